// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/SerialPort.h"

#include "serial/LocalLine.h"
#include "serial/NetworkLine.h"

#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace tapeway {

namespace {

// Extra time after the computed wire time before a drain counts as done: USB
// adapters and pseudo-terminals say "sent" while the last byte is still in
// their hands, and a busy machine may pick a byte up late. A DC4 cut by the
// speed change strands both ends until the watchdog, so the margin is
// generous: it is paid once per speed change.
constexpr qint64 kDrainMarginUs = 50000;
constexpr int kDrainPollMs = 1;

bool ParseSettings(const QString& text, LineFormat* format)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const int baud = parts[0].toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    format->baud = baud;

    const QString parity = parts[1].toUpper();
    if (parity == QLatin1String("N") || parity == QLatin1String("E") ||
        parity == QLatin1String("O"))
        format->parity = parity[0].toLatin1();
    else
        return false;

    const int dataBits = parts[2].toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return false;
    format->dataBits = dataBits;

    if (parts[3] == QLatin1String("1"))
        format->stopTenths = 10;
    else if (parts[3] == QLatin1String("1.5"))
        format->stopTenths = 15;
    else if (parts[3] == QLatin1String("2"))
        format->stopTenths = 20;
    else
        return false;
    return true;
}

// The device behind a port name: COMn is the n-th serial port, a bare name
// lives in /dev, a path is taken as it is. Empty when the name means no port.
QString DeviceName(const QString& name)
{
#ifdef Q_OS_WIN
    return name;
#else
    static const QRegularExpression comName(QStringLiteral("^COM(\\d+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(name);
    if (match.hasMatch()) {
        bool ok = false;
        const int n = match.captured(1).toInt(&ok);
        if (!ok || n < 1)
            return {};
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return name; // QSerialPort puts /dev/ in front of a bare name
#endif
}

} // namespace

SerialPort::SerialPort(QObject* parent) : QObject(parent), m_drainTimer(new QTimer(this))
{
    m_clock.start();
    m_drainTimer->setInterval(kDrainPollMs);
    m_drainTimer->setTimerType(Qt::PreciseTimer);
    connect(m_drainTimer, &QTimer::timeout, this, &SerialPort::PollDrain);
}

SerialPort::~SerialPort()
{
    // Waiters belong to objects that may already be gone; they are dropped.
    m_drainWaiters.clear();
    m_drainTimer->stop();
    if (m_line) {
        m_line->disconnect(this);
        m_line->Close();
        delete m_line;
        m_line = nullptr;
    }
}

void SerialPort::SetCommPort(const QString& name)
{
    m_commPort = name;
}

int SerialPort::FixedBaud() const
{
    NetworkLine::Address address;
    if (NetworkLine::IsNetworkName(m_commPort) &&
        NetworkLine::ParseName(m_commPort, &address, nullptr) &&
        address.kind == NetworkLine::Kind::RawTcp)
        return address.fixedBaud;
    return 0;
}

bool SerialPort::CanSetBaud(int baud) const
{
    const int fixed = FixedBaud();
    if (fixed > 0)
        return baud == fixed;
    return baud > 0 && QSerialPortInfo::standardBaudRates().contains(baud);
}

bool SerialPort::SetSettings(const QString& settings)
{
    LineFormat format;
    if (!ParseSettings(settings, &format))
        return false;
    const int fixed = FixedBaud();
    if (fixed > 0 && format.baud != fixed)
        return false;
    const QString previous = m_settings;
    m_settings = settings;
    TakeFormat(format);
    if (!GetPortOpen())
        return true;
    if (ApplySettings())
        return true;
    // The port refused: put the line back to what it ran with.
    m_settings = previous;
    LineFormat old;
    if (ParseSettings(previous, &old))
        TakeFormat(old);
    ApplySettings();
    return false;
}

void SerialPort::TakeFormat(const LineFormat& format)
{
    m_baud = format.baud;
    m_bitTenths = format.CharacterBitTenths();
}

bool SerialPort::SetHandshaking(int mode)
{
    if (mode < kHandshakeNone || mode > kHandshakeRtsCts)
        return false;
    const int previous = m_handshaking;
    m_handshaking = mode;
    if (!GetPortOpen() || ApplySettings())
        return true;
    m_handshaking = previous;
    ApplySettings();
    return false;
}

bool SerialPort::ApplySettings()
{
    LineFormat format;
    if (!GetPortOpen() || !ParseSettings(m_settings, &format))
        return false;
    format.flow = m_handshaking == kHandshakeXonXoff  ? FlowControl::Software
                  : m_handshaking == kHandshakeRtsCts ? FlowControl::Hardware
                                                      : FlowControl::None;
    return m_line->SetFormat(format);
}

bool SerialPort::CreateLine()
{
    if (m_line && m_lineName == m_commPort)
        return true;
    RetireLine();
    if (NetworkLine::IsNetworkName(m_commPort)) {
        NetworkLine::Address address;
        if (!NetworkLine::ParseName(m_commPort, &address, &m_lastError))
            return false;
        m_line = new NetworkLine(address, this);
    } else {
        const QString device = DeviceName(m_commPort);
        if (device.isEmpty()) {
            m_lastError = tr("No such serial port: \"%1\"").arg(m_commPort);
            return false;
        }
        m_line = new LocalLine(device, this);
    }
    m_lineName = m_commPort;
    connect(m_line, &LineTransport::ReadyRead, this, &SerialPort::OnReadyRead);
    connect(m_line, &LineTransport::HandedOver, this, &SerialPort::OnHandedOver);
    connect(m_line, &LineTransport::Broken, this, &SerialPort::OnLineBroken);
    return true;
}

void SerialPort::RetireLine()
{
    if (!m_line)
        return;
    // It may be the sender of the signal being handled: it goes later.
    m_line->disconnect(this);
    m_line->Close();
    m_line->deleteLater();
    m_line = nullptr;
    m_lineName.clear();
}

bool SerialPort::SetPortOpen(bool open)
{
    if (!open) {
        if (m_line)
            m_line->Close();
        return true;
    }
    if (GetPortOpen())
        return true;
    if (!CreateLine())
        return false;
    ++m_opens;
    m_broken = false;
    QString error;
    if (!m_line->Open(&error)) {
        m_lastError = error;
        return false;
    }
    m_lastError.clear();
    m_commEvent = 0;
    const int fixed = FixedBaud();
    if (fixed > 0) {
        // The speed is the server's; the settings text says so.
        m_baud = fixed;
        QStringList parts = m_settings.split(u',');
        parts[0] = QString::number(fixed);
        m_settings = parts.join(u',');
    }
    ApplySettings();
    return true;
}

bool SerialPort::GetPortOpen() const
{
    return m_line && m_line->IsOpen();
}

void SerialPort::SetInBufferCount(int count)
{
    if (count == 0 && GetPortOpen())
        m_line->PurgeInput();
}

void SerialPort::SetOutBufferCount(int count)
{
    // What was already handed to the wire may still be travelling, so the
    // wire-free time is left as it is: a drain waits a little too long at
    // worst, never too short.
    if (count == 0 && GetPortOpen())
        m_line->PurgeOutput();
}

int SerialPort::GetInBufferCount() const
{
    if (!GetPortOpen())
        return 0;
    return int(std::min<qint64>(m_line->BytesAvailable(), 0x7fffffff));
}

bool SerialPort::InputWaiting() const
{
    return GetPortOpen() && m_line->InputWaiting();
}

QByteArray SerialPort::GetInput()
{
    if (!GetPortOpen())
        return {};
    return m_line->ReadAll();
}

void SerialPort::SetOutput(const QByteArray& bytes)
{
    if (bytes.isEmpty() || !GetPortOpen())
        return;
    // The wire time is counted when the bytes are handed over (OnHandedOver).
    m_line->Write(bytes);
}

void SerialPort::OnHandedOver(qint64 bytes)
{
    // The wire time runs from the moment the bytes reach the device or the
    // network, which can be an event-loop turn after SetOutput.
    const qint64 now = NowUs();
    m_wireFreeAtUs = std::max(now, m_wireFreeAtUs) + WireTimeUs(bytes, m_baud, m_bitTenths);
    m_backlog.Add(bytes, m_bitTenths, m_baud, now);
}

void SerialPort::Drain(std::function<void()> done)
{
    if (!done)
        return;
    m_drainWaiters.push_back(std::move(done));
    if (!m_drainTimer->isActive()) {
        // A closed port runs the waiters at the first poll, still from the event loop.
        m_drainTimer->start();
    }
}

qint64 SerialPort::BytesNotOnWire() const
{
    if (!GetPortOpen())
        return 0;
    // A driver's queue leaves out what the hardware holds: the UART's FIFO,
    // a USB adapter's own buffer of hundreds of bytes. The wire time tells
    // that; the queue tells what a line held back (RTS/CTS) still has.
    const qint64 queued = m_line->BytesQueued();
    const qint64 modelled = m_backlog.Characters(m_bitTenths, m_baud, NowUs());
    return std::max(queued, m_line->BytesNotHandedOver() + modelled);
}

bool SerialPort::DriverReportsQueue() const
{
    return GetPortOpen() && m_line->ReportsDriverQueue();
}

bool SerialPort::MarksParityErrors() const
{
    return GetPortOpen() && m_line->MarksParityErrors();
}

qint64 SerialPort::WireTimeMs(qint64 bytes, int baud, int bitTenths)
{
    if (bytes <= 0 || baud <= 0)
        return 0;
    return (bytes * bitTenths * 100 + baud - 1) / baud;
}

qint64 SerialPort::WireTimeUs(qint64 bytes, int baud, int bitTenths)
{
    if (bytes <= 0 || baud <= 0)
        return 0;
    return (bytes * bitTenths * 100000 + baud - 1) / baud;
}

qint64 SerialPort::WireBacklog::BitTenthsLeft(int baud, qint64 nowUs) const
{
    // The wire carries baud bits, ten times as many tenths, a second.
    const qint64 carried = nowUs > atUs ? (nowUs - atUs) * std::max(baud, 0) / 100000 : 0;
    return std::max<qint64>(bitTenths - carried, 0);
}

void SerialPort::WireBacklog::Add(qint64 bytes, int characterBitTenths, int baud, qint64 nowUs)
{
    bitTenths = BitTenthsLeft(baud, nowUs) + std::max<qint64>(bytes, 0) * characterBitTenths;
    atUs = nowUs;
}

qint64 SerialPort::WireBacklog::Characters(int characterBitTenths, int baud, qint64 nowUs) const
{
    if (characterBitTenths <= 0)
        return 0;
    return (BitTenthsLeft(baud, nowUs) + characterBitTenths - 1) / characterBitTenths;
}

void SerialPort::PollDrain()
{
    if (GetPortOpen()) {
        if (m_line->BytesQueued() > 0 ||
            NowUs() < m_wireFreeAtUs + m_line->ExtraDrainUs() + kDrainMarginUs)
            return;
    }
    std::vector<std::function<void()>> waiters;
    waiters.swap(m_drainWaiters);
    // Waiters may ask for another drain; the timer then keeps running.
    for (auto& waiter : waiters)
        waiter();
    if (m_drainWaiters.empty())
        m_drainTimer->stop();
}

qint64 SerialPort::NowUs() const
{
    return m_clock.nsecsElapsed() / 1000;
}

void SerialPort::OnReadyRead()
{
    if (!GetPortOpen() || m_rThreshold <= 0 || m_line->BytesAvailable() < m_rThreshold)
        return;
    const int previous = m_commEvent;
    m_commEvent = kCommEventReceive;
    emit OnComm();
    m_commEvent = previous;
}

void SerialPort::OnLineBroken(const QString& reason)
{
    if (m_broken)
        return;
    m_broken = true;
    m_lastError = reason;
    // The break may come from inside the transport's own notifier; the line
    // is closed once that has returned. A break of an earlier open is dropped.
    const quint64 opens = m_opens;
    QMetaObject::invokeMethod(
        this,
        [this, reason, opens] {
            if (opens != m_opens)
                return;
            if (m_line)
                m_line->Close();
            emit LineBroken(reason);
        },
        Qt::QueuedConnection);
}

} // namespace tapeway
