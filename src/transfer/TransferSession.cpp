#include "transfer/TransferSession.h"

#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "transfer/FileNaming.h"
#include "transfer/SessionHost.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cmath>

namespace tapeway {

namespace {

// Message pairs (Chinese id, English id).
constexpr int kReceivedZh = 134, kReceivedEn = 135;
constexpr int kReceiveErrorZh = 136, kReceiveErrorEn = 137;
constexpr int kCannotReadWholeZh = 140, kCannotReadWholeEn = 141;
constexpr int kNoDataZh = 142, kNoDataEn = 143;
constexpr int kCannotOpenZh = 144, kCannotOpenEn = 145;
constexpr int kNoSuchFileZh = 146, kNoSuchFileEn = 147;
constexpr int kNoTargetZh = 148, kNoTargetEn = 149;
constexpr int kSentZh = 152, kSentEn = 153;
constexpr int kSendErrorZh = 154, kSendErrorEn = 155;
constexpr int kLinkBrokenZh = 156, kLinkBrokenEn = 157;
constexpr int kPortErrorZh = 163, kPortErrorEn = 162;
constexpr int kCannotSaveZh = 165, kCannotSaveEn = 164;
constexpr int kRowStartZh = 122, kRowStartEn = 123;
constexpr int kRowCompleteZh = 170, kRowCompleteEn = 171;
constexpr int kRowFailedZh = 175, kRowFailedEn = 174;
constexpr int kFixedSpeedZh = 200, kFixedSpeedEn = 201;

constexpr int kStagingAttempts = 100;

} // namespace

QString PercentText(qint64 count, qint64 total)
{
    if (total <= 0)
        return QStringLiteral("0%");
    const auto percent = qint64(std::floor(double(count) * 100.0 / double(total) + 0.5));
    return QString::number(percent) + u'%';
}

TransferSession::TransferSession(SerialPort& port, SessionHost& host, QObject* parent)
    : QObject(parent), m_port(port), m_host(host)
{
    connect(&m_headerTimer, &QTimer::timeout, this, [this] { SendByte(kDC2); });
    connect(&m_readyTimer, &QTimer::timeout, this, [this] { SendByte(kDC3); });
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &TransferSession::BreakLink);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { m_host.RepaintList(); });
    connect(&m_port, &SerialPort::LineBroken, this, [this] {
        if (m_active)
            BreakLink();
    });
}

TransferSession::~TransferSession() = default;

void TransferSession::SendByte(char byte)
{
    SendControlByte(m_port, byte);
}

void TransferSession::StopTimers()
{
    m_headerTimer.stop();
    m_readyTimer.stop();
    m_watchdog.stop();
    m_repaintTimer.stop();
}

void TransferSession::StartTransfer()
{
    ++m_generation;
    m_createdNew = false;
    m_baud = LeadingInt(m_host.BaudText());
    m_receive.reset();
    m_send.reset();
    m_switchingSpeed = false;
    m_finishingSend = false;
    m_receiving = m_host.IsReceiveMode();
    if (m_receiving)
        StartReceive();
    else
        StartNextSend();
}

// ---------------------------------------------------------------- receive

void TransferSession::StartReceive()
{
    QString name;
    if (m_continuousCounter > 0) {
        name = ContinuousName(m_continuousBase, m_continuousCounter);
        m_host.SetReceiveTargetText(name);
    } else {
        name = m_host.ReceiveTargetText().trimmed();
        m_continuousBase = name;
    }
    m_targetName = name;
    if (name.isEmpty()) {
        // A series whose next name cannot be formed starts again from the typed name.
        m_continuousCounter = 0;
        m_host.ShowMessage(kNoTargetZh, kNoTargetEn);
        m_host.ReceiveEnded(name, kNoTargetZh, kNoTargetEn);
        return;
    }
    m_host.RememberPath(name);
    CloseFile(false);

    const bool exists = QFileInfo::exists(name);
    if (exists && !m_host.AskOverwrite(name))
        return;
    auto file = std::make_unique<QFile>();
    if (exists) {
        // The existing file stays as it is until the new data has arrived whole.
        if (!CreateStagingFile(name, *file)) {
            m_host.ShowMessage(kCannotOpenZh, kCannotOpenEn);
            m_host.ReceiveEnded(name, kCannotOpenZh, kCannotOpenEn);
            return;
        }
        m_stagingName = file->fileName();
    } else {
        file->setFileName(name);
        if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_host.ShowMessage(kCannotOpenZh, kCannotOpenEn);
            m_host.ReceiveEnded(name, kCannotOpenZh, kCannotOpenEn);
            return;
        }
        m_createdNew = true;
    }
    m_file = std::move(file);

    m_active = true;
    EnableControls(false);
    QString reason;
    if (!OpenPort(m_port, m_host.Link(), &reason)) {
        m_host.ShowMessage(kPortErrorZh, kPortErrorEn, reason);
        EndTransfer(kReceiveErrorZh, kReceiveErrorEn, true);
        return;
    }
    m_receive.emplace();
    m_headerTimer.start(m_timings.headerRequestMs);
}

bool TransferSession::CreateStagingFile(const QString& target, QFile& file)
{
    // Another receive (a second copy of the program, say) may take the free
    // name between the look and the creation: then the next one is tried.
    for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
        const QString staging = StagingName(target);
        if (staging.isEmpty())
            return false;
        file.setFileName(staging);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (!QFileInfo::exists(staging))
            return false; // not a name taken meanwhile: the directory refuses
    }
    return false;
}

void TransferSession::OnReceiveChunk(const QByteArray& chunk)
{
    m_readyTimer.stop();
    if (m_switchingSpeed || !m_receive)
        return; // nothing is due while DC4 is still leaving the line
    const ReceiveProtocol::Step step = m_receive->Feed(chunk);
    if (step.headerStarted)
        m_headerTimer.stop();
    // From the header's first byte on, the link counts as broken when the
    // protocol takes no byte for a while; noise between packets (bytes of a
    // wrong speed, say) does not keep it alive.
    const ReceiveProtocol::State state = m_receive->GetState();
    if (step.headerStarted || step.packetDone ||
        state == ReceiveProtocol::State::CollectingHeader ||
        state == ReceiveProtocol::State::CollectingPacket)
        m_watchdog.start(m_timings.watchdogMs);
    if (step.failure == ReceiveProtocol::Failure::HeaderCheck ||
        step.failure == ReceiveProtocol::Failure::BadHeader) {
        EndTransfer(kReceiveErrorZh, kReceiveErrorEn, true);
        return;
    }
    if (step.headerAccepted) {
        AcceptHeader();
        return;
    }
    if (step.packetDone) {
        m_host.SetProgressPos(int(m_receive->DataOffset()));
        m_port.SetInBufferCount(0);
        m_port.SetOutBufferCount(0);
        SendByte(kDC2);
    }
    if (step.failure == ReceiveProtocol::Failure::DataChecksum)
        EndTransfer(kReceiveErrorZh, kReceiveErrorEn, true);
    else if (step.finished)
        FinishReceive();
}

void TransferSession::AcceptHeader()
{
    const int baud = m_receive->Baud();
    if (!m_port.CanSetBaud(baud)) {
        // Refused before DC4; a line whose speed is fixed says why.
        const bool fixed = m_port.FixedBaud() > 0;
        if (fixed)
            m_host.ShowAnnouncedBaud(baud);
        EndTransfer(fixed ? kFixedSpeedZh : kReceiveErrorZh,
                    fixed ? kFixedSpeedEn : kReceiveErrorEn, true);
        return;
    }
    SendByte(kDC4);
    m_baud = baud;
    m_host.SetProgressRange(0, int(m_receive->TotalLength()));
    m_port.SetInBufferCount(0);
    m_host.ShowAnnouncedBaud(baud);
    m_watchdog.start(m_timings.watchdogMs);
    // The speed changes only once DC4 has left the line at the old speed.
    m_switchingSpeed = true;
    const quint64 generation = m_generation;
    m_port.Drain([this, generation, baud] {
        if (generation != m_generation || !m_active)
            return;
        m_switchingSpeed = false;
        if (!ApplyBaudRate(m_port, baud, m_host.Link())) {
            EndTransfer(kReceiveErrorZh, kReceiveErrorEn, true);
            return;
        }
        m_port.SetInBufferCount(0);
        m_readyTimer.start(m_timings.readyRequestMs);
    });
}

bool TransferSession::SaveReceived(const QByteArray& data)
{
    // One rename puts the new content under the target's name; the old
    // content stays until then.
    QSaveFile out(m_targetName);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // A full disk may show only when the buffer is flushed, and commit()
    // does not report a failed flush: check it here.
    if (out.write(data) != data.size() || !out.flush()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

void TransferSession::FinishReceive()
{
    m_active = false;
    StopTimers();
    const QByteArray data = m_receive->Data();
    m_receive.reset();
    const bool createdNew = m_createdNew;
    CloseFile(false);
    const bool saved = SaveReceived(data);
    if (!saved && createdNew)
        QFile::remove(m_targetName); // not the empty placeholder either
    m_createdNew = false;
    const int zh = saved ? kReceivedZh : kCannotSaveZh;
    const int en = saved ? kReceivedEn : kCannotSaveEn;
    m_host.ReceiveEnded(m_targetName, zh, en);

    if (saved && m_host.IsContinuousChecked()) {
        m_host.SetProgressPos(0);
        EnableControls(true);
        m_host.SetProgressPos(0);
        ++m_continuousCounter;
        // The last DC2 leaves the line before the next Start reopens it.
        const quint64 generation = m_generation;
        m_port.Drain([this, generation] {
            if (generation == m_generation && !m_active)
                StartTransfer();
        });
        return;
    }
    m_host.ShowMessage(zh, en);
    m_host.SetProgressPos(0);
    EnableControls(true);
    m_host.SetProgressPos(0);
}

// ------------------------------------------------------------------- send

void TransferSession::StartNextSend()
{
    for (;;) {
        if (m_rowCursor == 0)
            m_host.ClearStateColumn();
        const QString path = m_host.NextCheckedFile(m_rowCursor);
        if (m_rowCursor == -1 && path.isEmpty()) {
            m_rowCursor = 0;
            m_host.SetProgressPos(0);
            EnableControls(true);
            m_host.BatchEnded();
            return;
        }
        const int row = CurrentRow();
        const QFileInfo info(path);
        if (path.isEmpty() || !info.exists()) {
            m_host.SetRowState(row, m_host.LocalText(kNoSuchFileZh, kNoSuchFileEn));
            continue;
        }
        QFile file(path);
        if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
            m_host.SetRowState(row, m_host.LocalText(kCannotOpenZh, kCannotOpenEn));
            continue;
        }
        const qint64 length = file.size();
        if (length <= 0) {
            m_host.SetRowState(row, m_host.LocalText(kNoDataZh, kNoDataEn));
            continue;
        }
        if (length > kMaxFileLength) {
            // No header can announce it.
            m_host.SetRowState(row, m_host.LocalText(kCannotReadWholeZh, kCannotReadWholeEn));
            continue;
        }
        QByteArray data = file.read(length);
        if (data.size() < length) {
            m_host.SetRowState(row, m_host.LocalText(kCannotReadWholeZh, kCannotReadWholeEn));
            continue;
        }
        file.close();

        m_host.SetRowState(row, m_host.LocalText(kRowStartZh, kRowStartEn));
        m_host.EnsureRowVisible(row);
        m_host.SetProgressRange(0, int(length));
        EnableControls(false);
        QString reason;
        if (!OpenPort(m_port, m_host.Link(), &reason)) {
            m_active = false;
            m_host.ShowMessage(kPortErrorZh, kPortErrorEn, reason);
            m_host.ShowMessage(kSendErrorZh, kSendErrorEn);
            EnableControls(true);
            return;
        }
        if (m_port.FixedBaud() > 0)
            m_baud = m_port.FixedBaud(); // the line cannot change speed: announce its own
        m_send.emplace(std::move(data), m_baud);
        m_active = true;
        return;
    }
}

void TransferSession::OnSendChunk(const QByteArray& chunk)
{
    m_port.SetInBufferCount(0);
    if (m_finishingSend || !m_send)
        return;
    const int counterBefore = m_send->PacketCounter();
    const SendProtocol::Step step = m_send->Feed(chunk);
    if (step.switchSpeed && !ApplyBaudRate(m_port, m_send->Baud(), m_host.Link())) {
        m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowFailedZh, kRowFailedEn));
        m_rowCursor = 0;
        EndTransfer(kSendErrorZh, kSendErrorEn, true);
        return;
    }
    // Every answer of the protocol restarts the silence count; requests it
    // cannot use (bytes of a wrong speed, say) do not.
    if (!step.output.isEmpty() || step.switchSpeed)
        m_watchdog.start(m_timings.watchdogMs);
    if (!step.output.isEmpty())
        m_port.SetOutput(step.output);
    if (step.dataSent) {
        m_host.SetProgressPos(int(m_send->DataOffset()));
        m_host.SetRowState(CurrentRow(), PercentText(m_send->DataOffset(), m_send->TotalLength()));
        if (counterBefore >= 2) {
            m_host.RepaintList();
            if (!m_repaintTimer.isActive())
                m_repaintTimer.start(m_timings.repaintMs);
        }
    }
    if (step.complete) {
        // "Complete" only once every byte of the last packet has left the line.
        m_finishingSend = true;
        m_watchdog.stop();
        const quint64 generation = m_generation;
        m_port.Drain([this, generation] {
            if (generation == m_generation && m_active)
                CompleteSend();
        });
    }
}

void TransferSession::CompleteSend()
{
    m_repaintTimer.stop();
    m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowCompleteZh, kRowCompleteEn));
    EndTransfer(kSentZh, kSentEn, false);
    StartTransfer();
}

// ------------------------------------------------------------ both sides

void TransferSession::OnComm()
{
    if (m_port.GetCommEvent() != SerialPort::kCommEventReceive || !m_active)
        return;
    const QByteArray chunk = m_port.GetInput();
    if (chunk.isEmpty())
        return;
    if (m_receiving)
        OnReceiveChunk(chunk);
    else
        OnSendChunk(chunk);
}

void TransferSession::BreakLink()
{
    if (!m_active)
        return;
    if (!m_receiving) {
        m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowFailedZh, kRowFailedEn));
        m_rowCursor = 0;
    }
    EndTransfer(kLinkBrokenZh, kLinkBrokenEn, true);
}

void TransferSession::CloseFile(bool removeCreated)
{
    if (!m_file)
        return;
    const QString path = m_file->fileName();
    m_file->close();
    m_file.reset();
    if (removeCreated && m_createdNew && m_receiving) {
        QFile::remove(path);
        m_createdNew = false;
    }
}

void TransferSession::StopSession()
{
    ++m_generation;
    m_active = false;
    StopTimers();
    m_receive.reset();
    m_send.reset();
    m_switchingSpeed = false;
    m_finishingSend = false;
    CloseFile(true);
}

void TransferSession::RemoveStagingFile()
{
    if (!m_stagingName.isEmpty()) {
        QFile::remove(m_stagingName);
        m_stagingName.clear();
    }
}

void TransferSession::EndTransfer(int chineseId, int englishId, bool show)
{
    // A receive that ends here did not save: what it created goes again.
    StopSession();
    if (m_receiving)
        m_host.ReceiveEnded(m_targetName, chineseId, englishId);
    if (show)
        m_host.ShowMessage(chineseId, englishId);
    m_host.SetProgressPos(0);
    EnableControls(true);
}

void TransferSession::EnableControls(bool enable)
{
    m_host.EnableControls(enable);
    if (enable)
        RemoveStagingFile();
}

void TransferSession::CancelTransfer()
{
    StopSession();
    m_host.SetProgressPos(0);
    EnableControls(true);
    if (!m_receiving && m_rowCursor > 0) {
        m_host.SetRowState(CurrentRow(), QString());
        m_host.RepaintList();
    }
    m_continuousCounter = 0;
    m_rowCursor = 0;
}

void TransferSession::CloseDownTransfer()
{
    StopSession();
    RemoveStagingFile();
}

} // namespace tapeway
