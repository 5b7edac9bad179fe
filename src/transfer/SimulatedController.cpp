// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/SimulatedController.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

namespace tapeway {

namespace {

constexpr int kStartBaud = 9600;
constexpr int kHeaderRequestMs = 1000;
constexpr int kReadyMs = 100;
// After the last packet of a file the receiver still answers with a DC2 at
// the data speed; whatever arrives this long after the drain is dropped, so
// that it is not taken as the request for the next header.
constexpr int kSettleMs = 200;

QString FailureText(ReceiveProtocol::Failure failure)
{
    switch (failure) {
    case ReceiveProtocol::Failure::HeaderCheck:
        return QStringLiteral("header check does not match");
    case ReceiveProtocol::Failure::BadHeader:
        return QStringLiteral("header announces an impossible file");
    case ReceiveProtocol::Failure::DataChecksum:
        return QStringLiteral("data checksum does not match");
    case ReceiveProtocol::Failure::None:
        break;
    }
    return {};
}

} // namespace

SimulatedController::SimulatedController(const QString& portName, QObject* parent)
    : QObject(parent), m_headerTimer(new QTimer(this)), m_readyTimer(new QTimer(this))
{
    m_link.portName = portName;
    m_headerTimer->setInterval(kHeaderRequestMs);
    m_readyTimer->setInterval(kReadyMs);
    connect(m_headerTimer, &QTimer::timeout, this, &SimulatedController::SendHeaderRequest);
    connect(m_readyTimer, &QTimer::timeout, this, &SimulatedController::SendReady);
    connect(&m_port, &SerialPort::OnComm, this, &SimulatedController::OnComm);
    connect(&m_port, &SerialPort::LineBroken, this, &SimulatedController::OnLineBroken);
}

SimulatedController::~SimulatedController() = default;

void SimulatedController::SetLink(const LinkSettings& link)
{
    const QString portName = m_link.portName;
    m_link = link;
    m_link.portName = portName;
}

bool SimulatedController::SendFiles(const QStringList& files, int baud)
{
    QList<QByteArray> contents;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            Stop();
            emit Failed(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return false;
        }
        contents.append(file.readAll());
    }
    return SendFiles(contents, baud);
}

bool SimulatedController::SendFiles(const QList<QByteArray>& contents, int baud)
{
    Stop();
    if (contents.isEmpty()) {
        emit Failed(QStringLiteral("no file to send"));
        return false;
    }
    for (const QByteArray& content : contents) {
        if (content.isEmpty()) {
            emit Failed(QStringLiteral("an empty file cannot be sent"));
            return false;
        }
    }
    if (baud < 100 || baud / 100 > 0xffff) {
        emit Failed(QStringLiteral("speed %1 cannot be announced").arg(baud));
        return false;
    }
    if (!OpenLine())
        return false;
    m_files = contents;
    m_baud = baud;
    m_fileIndex = 0;
    m_mode = Mode::Sending;
    ++m_session;
    StartSendingFile();
    return true;
}

bool SimulatedController::ReceiveFiles(const QString& dir, int count)
{
    Stop();
    if (count <= 0) {
        emit Failed(QStringLiteral("no file to receive"));
        return false;
    }
    if (!QDir().mkpath(dir)) {
        emit Failed(QStringLiteral("cannot make the folder %1").arg(dir));
        return false;
    }
    if (!OpenLine())
        return false;
    m_dir = dir;
    m_count = count;
    m_fileIndex = 0;
    m_mode = Mode::Receiving;
    ++m_session;
    StartReceivingFile();
    return true;
}

void SimulatedController::Stop()
{
    m_headerTimer->stop();
    m_readyTimer->stop();
    m_mode = Mode::Idle;
    m_busy = false;
    ++m_session;
    m_sender.reset();
    m_receiver.reset();
}

bool SimulatedController::OpenLine()
{
    QString error;
    if (!OpenPort(m_port, m_link, &error)) {
        emit Failed(QStringLiteral("cannot open %1: %2").arg(m_link.portName, error));
        return false;
    }
    m_sentOffset = 0;
    return true;
}

void SimulatedController::Fail(const QString& reason)
{
    Stop();
    emit Failed(reason);
}

void SimulatedController::Finish()
{
    Stop();
    emit Finished();
}

void SimulatedController::AfterDrain(std::function<void()> next)
{
    const quint64 session = m_session;
    m_port.Drain([this, session, next = std::move(next)] {
        if (m_session == session)
            next();
    });
}

void SimulatedController::Transmit(QByteArray bytes, bool isHeader)
{
    if (isHeader && m_faults.wrongHeaderCheck && bytes.size() == kHeaderSize)
        bytes[16] = char(quint8(bytes[16]) + 1);
    QByteArray out;
    out.reserve(bytes.size());
    for (char byte : bytes) {
        const qint64 offset = m_sentOffset++;
        if (m_faults.silentAfter >= 0 && offset >= m_faults.silentAfter)
            continue;
        if (offset == m_faults.dropByteAt)
            continue;
        if (offset == m_faults.flipByteAt)
            byte = char(byte ^ 0xFF);
        out.append(byte);
    }
    m_port.SetOutput(out);
}

void SimulatedController::OnComm()
{
    if (m_port.GetCommEvent() != SerialPort::kCommEventReceive)
        return;
    const QByteArray chunk = m_port.GetInput();
    // While the speed changes, whatever comes is noise of the old speed; the
    // other side repeats its requests.
    if (chunk.isEmpty() || m_busy)
        return;
    if (m_mode == Mode::Sending)
        HandleSendInput(chunk);
    else if (m_mode == Mode::Receiving)
        HandleReceiveInput(chunk);
}

void SimulatedController::OnLineBroken(const QString& reason)
{
    if (m_mode != Mode::Idle)
        Fail(QStringLiteral("line broken: %1").arg(reason));
}

void SimulatedController::StartSendingFile()
{
    m_sender.emplace(m_files.at(m_fileIndex), m_baud);
}

void SimulatedController::HandleSendInput(const QByteArray& chunk)
{
    const SendProtocol::Step step = m_sender->Feed(chunk);
    // Like the real sender: whatever else is waiting is discarded.
    m_port.SetInBufferCount(0);
    if (!step.output.isEmpty())
        Transmit(step.output, !step.dataSent);
    if (step.switchSpeed && !m_faults.ignoreDC4) {
        m_busy = true;
        AfterDrain([this] {
            m_busy = false;
            if (!ApplyBaudRate(m_port, m_sender->Baud(), m_link)) {
                Fail(QStringLiteral("the port refused %1 baud").arg(m_sender->Baud()));
                return;
            }
            m_port.SetInBufferCount(0);
        });
    }
    if (!step.complete)
        return;
    m_busy = true;
    AfterDrain([this] {
        const quint64 session = m_session;
        QTimer::singleShot(kSettleMs, this, [this, session] {
            if (m_session != session)
                return;
            m_busy = false;
            ApplyBaudRate(m_port, kStartBaud, m_link);
            m_port.SetInBufferCount(0);
            const int sent = m_fileIndex++;
            emit FileSent(sent);
            if (m_session != session)
                return; // a slot stopped or restarted the session
            if (m_fileIndex >= m_files.size())
                Finish();
            else
                StartSendingFile();
        });
    });
}

void SimulatedController::StartReceivingFile()
{
    m_receiver.emplace();
    SendHeaderRequest();
    m_headerTimer->start();
}

void SimulatedController::SendHeaderRequest()
{
    Transmit(QByteArray(1, kDC2));
}

void SimulatedController::SendReady()
{
    Transmit(QByteArray(1, kDC3));
}

void SimulatedController::HandleReceiveInput(const QByteArray& chunk)
{
    const ReceiveProtocol::Step step = m_receiver->Feed(chunk);
    if (step.headerStarted)
        m_headerTimer->stop();
    if (step.packetDone || m_receiver->GetState() != ReceiveProtocol::State::WaitingForData)
        m_readyTimer->stop();
    if (step.failure != ReceiveProtocol::Failure::None) {
        Fail(FailureText(step.failure));
        return;
    }
    if (step.headerAccepted) {
        Transmit(QByteArray(1, kDC4));
        m_busy = true;
        // DC4 must leave at the old speed before the line changes.
        AfterDrain([this] {
            m_busy = false;
            if (!ApplyBaudRate(m_port, m_receiver->Baud(), m_link)) {
                Fail(QStringLiteral("the port refused %1 baud").arg(m_receiver->Baud()));
                return;
            }
            m_port.SetInBufferCount(0);
            SendReady();
            m_readyTimer->start();
        });
        return;
    }
    const bool lateAcknowledge = step.finished && m_faults.finalDC2DelayMs > 0;
    if (step.packetDone) {
        m_port.SetInBufferCount(0);
        if (!lateAcknowledge)
            Transmit(QByteArray(1, kDC2));
    }
    if (!step.finished)
        return;

    const QByteArray data = m_receiver->Data();
    QString path;
    if (!StoreFile(data, &path)) {
        Fail(QStringLiteral("cannot write %1").arg(path));
        return;
    }
    const quint64 session = m_session;
    ++m_fileIndex;
    emit FileReceived(path, data);
    if (m_session != session)
        return;
    m_busy = true;
    const auto next = [this] {
        AfterDrain([this] {
            m_busy = false;
            ApplyBaudRate(m_port, kStartBaud, m_link);
            m_port.SetInBufferCount(0);
            if (m_fileIndex >= m_count)
                Finish();
            else
                StartReceivingFile();
        });
    };
    if (!lateAcknowledge) {
        next();
        return;
    }
    QTimer::singleShot(m_faults.finalDC2DelayMs, this, [this, session, next] {
        if (m_session != session)
            return;
        Transmit(QByteArray(1, kDC2));
        next();
    });
}

bool SimulatedController::StoreFile(const QByteArray& data, QString* path)
{
    const QString name = QStringLiteral("O%1.nc").arg(m_fileIndex + 1, 4, 10, QLatin1Char('0'));
    *path = QDir(m_dir).filePath(name);
    QSaveFile file(*path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.flush() &&
           file.commit();
}

} // namespace tapeway
