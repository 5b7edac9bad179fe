#include "serial/SerialPort.h"

#include <QRegularExpression>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace tapeway {

namespace {

// Extra time after the computed wire time before a drain counts as done: USB
// adapters and pseudo-terminals say "sent" while the last byte is still in
// their hands. Paid once per speed change and once per file.
constexpr qint64 kDrainMarginUs = 20000;
constexpr int kDrainPollMs = 1;

struct FrameFormat
{
    int baud = 0;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

bool ParseSettings(const QString& text, FrameFormat* format)
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
    if (parity == QLatin1String("N"))
        format->parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        format->parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        format->parity = QSerialPort::OddParity;
    else
        return false;

    const int dataBits = parts[2].toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return false;
    format->dataBits = QSerialPort::DataBits(dataBits);

    if (parts[3] == QLatin1String("1"))
        format->stopBits = QSerialPort::OneStop;
    else if (parts[3] == QLatin1String("1.5"))
        format->stopBits = QSerialPort::OneAndHalfStop;
    else if (parts[3] == QLatin1String("2"))
        format->stopBits = QSerialPort::TwoStop;
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

bool IsBreakError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::DeviceNotFoundError:
        return true;
    default:
        return false;
    }
}

} // namespace

SerialPort::SerialPort(QObject* parent)
    : QObject(parent), m_port(new QSerialPort(this)), m_drainTimer(new QTimer(this))
{
    m_clock.start();
    m_drainTimer->setInterval(kDrainPollMs);
    m_drainTimer->setTimerType(Qt::PreciseTimer);
    connect(m_drainTimer, &QTimer::timeout, this, &SerialPort::PollDrain);
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::OnReadyRead);
    // The wire time runs from the moment the bytes reach the device, which
    // can be an event-loop turn after SetOutput.
    connect(m_port, &QSerialPort::bytesWritten, this, [this](qint64 bytes) {
        const qint64 wireUs = m_baud > 0 ? (bytes * 10 * 1000000 + m_baud - 1) / m_baud : 0;
        m_wireFreeAtUs = std::max(NowUs(), m_wireFreeAtUs) + wireUs;
    });
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { OnError(int(error)); });
}

SerialPort::~SerialPort()
{
    // Waiters belong to objects that may already be gone; they are dropped.
    m_drainWaiters.clear();
    m_drainTimer->stop();
    if (m_port->isOpen())
        m_port->close();
}

void SerialPort::SetCommPort(const QString& name)
{
    m_commPort = name;
}

bool SerialPort::SetSettings(const QString& settings)
{
    FrameFormat format;
    if (!ParseSettings(settings, &format))
        return false;
    const QString previous = m_settings;
    m_settings = settings;
    m_baud = format.baud;
    if (!m_port->isOpen())
        return true;
    if (ApplySettings())
        return true;
    // The port refused: put the line back to what it ran with.
    m_settings = previous;
    FrameFormat old;
    if (ParseSettings(previous, &old))
        m_baud = old.baud;
    ApplySettings();
    return false;
}

bool SerialPort::ApplySettings()
{
    FrameFormat format;
    if (!m_port->isOpen() || !ParseSettings(m_settings, &format))
        return false;
    m_quietErrors = true;
    const bool ok = m_port->setBaudRate(format.baud) && m_port->setDataBits(format.dataBits) &&
                    m_port->setParity(format.parity) && m_port->setStopBits(format.stopBits);
    m_port->clearError();
    m_quietErrors = false;
    return ok;
}

bool SerialPort::SetPortOpen(bool open)
{
    if (!open) {
        if (m_port->isOpen())
            m_port->close();
        m_port->clearError();
        return true;
    }
    if (m_port->isOpen())
        return true;

    const QString device = DeviceName(m_commPort);
    if (device.isEmpty()) {
        m_lastError = tr("No such serial port: \"%1\"").arg(m_commPort);
        return false;
    }
    m_port->setPortName(device);
    // A plain frame format for the open itself; the chosen one follows, so
    // that a format the device refuses does not fail the open.
    m_port->setBaudRate(9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_quietErrors = true;
    const bool opened = m_port->open(QIODevice::ReadWrite);
    m_quietErrors = false;
    if (!opened) {
        m_lastError = m_port->errorString();
        m_port->clearError();
        return false;
    }
    m_broken = false;
    m_lastError.clear();
    m_commEvent = 0;

    // DTR and RTS stay low; a pseudo-terminal has no modem lines and refuses.
    m_quietErrors = true;
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->setDataTerminalReady(false);
    m_port->setRequestToSend(false);
    m_port->clearError();
    m_quietErrors = false;
    ApplySettings();
    return true;
}

bool SerialPort::GetPortOpen() const
{
    return m_port->isOpen();
}

void SerialPort::SetInBufferCount(int count)
{
    if (count != 0 || !m_port->isOpen())
        return;
    m_quietErrors = true;
    m_port->clear(QSerialPort::Input);
    m_port->clearError();
    m_quietErrors = false;
    if (m_port->bytesAvailable() > 0)
        m_port->readAll();
}

void SerialPort::SetOutBufferCount(int count)
{
    if (count != 0 || !m_port->isOpen())
        return;
    m_quietErrors = true;
    m_port->clear(QSerialPort::Output);
    m_port->clearError();
    m_quietErrors = false;
    // What was already handed to the wire may still be travelling, so the
    // wire-free time is left as it is: a drain waits a little too long at
    // worst, never too short.
}

int SerialPort::GetInBufferCount() const
{
    if (!m_port->isOpen())
        return 0;
    return int(std::min<qint64>(m_port->bytesAvailable(), 0x7fffffff));
}

QByteArray SerialPort::GetInput()
{
    if (!m_port->isOpen())
        return {};
    return m_port->readAll();
}

void SerialPort::SetOutput(const QByteArray& bytes)
{
    if (bytes.isEmpty() || !m_port->isOpen())
        return;
    // The wire time is counted when the bytes reach the device (bytesWritten).
    m_port->write(bytes);
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

qint64 SerialPort::WireTimeMs(qint64 bytes, int baud)
{
    if (bytes <= 0 || baud <= 0)
        return 0;
    return (bytes * 10 * 1000 + baud - 1) / baud;
}

void SerialPort::PollDrain()
{
    if (m_port->isOpen()) {
        if (m_port->bytesToWrite() > 0 || KernelOutputQueue() > 0 ||
            NowUs() < m_wireFreeAtUs + kDrainMarginUs)
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

qint64 SerialPort::KernelOutputQueue() const
{
#ifdef Q_OS_UNIX
    if (!m_port->isOpen())
        return 0;
    int queued = 0;
    if (::ioctl(int(m_port->handle()), TIOCOUTQ, &queued) == 0)
        return queued;
#endif
    return 0;
}

qint64 SerialPort::NowUs() const
{
    return m_clock.nsecsElapsed() / 1000;
}

void SerialPort::OnReadyRead()
{
    if (m_rThreshold <= 0 || m_port->bytesAvailable() < m_rThreshold)
        return;
    const int previous = m_commEvent;
    m_commEvent = kCommEventReceive;
    emit OnComm();
    m_commEvent = previous;
}

void SerialPort::OnError(int error)
{
    const auto code = QSerialPort::SerialPortError(error);
    if (code == QSerialPort::NoError || m_quietErrors || m_broken || !m_port->isOpen())
        return;
    if (!IsBreakError(code))
        return;
    BreakLine(m_port->errorString());
}

void SerialPort::BreakLine(const QString& reason)
{
    m_broken = true;
    m_lastError = reason;
    // The error arrives from inside QSerialPort's own notifier; the port is
    // closed once that has returned.
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (m_port->isOpen())
                m_port->close();
            m_port->clearError();
            emit LineBroken(reason);
        },
        Qt::QueuedConnection);
}

} // namespace tapeway
