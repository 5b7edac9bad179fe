#include "transfer/TransferSession.h"

#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "transfer/FileNaming.h"
#include "transfer/ReceiveFiles.h"
#include "transfer/SendSource.h"
#include "transfer/SessionHost.h"
#include "transfer/SystemPath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
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
constexpr int kBaudNotNumberZh = 180, kBaudNotNumberEn = 181;
constexpr int kBaudNotSettableZh = 182, kBaudNotSettableEn = 183;
constexpr int kPermissionHintZh = 184, kPermissionHintEn = 185;
constexpr int kInUseHintZh = 186, kInUseHintEn = 187;
constexpr int kKeptInZh = 188, kKeptInEn = 189;
constexpr int kNotKeptZh = 190, kNotKeptEn = 191;
constexpr int kAnnouncedZh = 192, kAnnouncedEn = 193;
constexpr int kNotRegularZh = 194, kNotRegularEn = 195;
constexpr int kNoRoomZh = 196, kNoRoomEn = 197;
constexpr int kFixedSpeedZh = 200, kFixedSpeedEn = 201;
constexpr int kNotSerialZh = 228, kNotSerialEn = 229;

// How long a sender waits for the receiver's DC2 after the last packet, on
// top of that packet's wire time.
constexpr int kAcknowledgeGraceMs = 2000;
// A full data packet on the wire: DC1, a block and the checksum.
constexpr int kFullPacketBytes = 1 + kBlockSize + kChecksumSize;

constexpr int kStagingAttempts = 100;

// Speeds the baud box may hold: the standard rates of the port layer.
bool IsAcceptableBaud(int baud)
{
    return baud > 0 && QSerialPortInfo::standardBaudRates().contains(baud);
}

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
    connect(&m_watchdog, &QTimer::timeout, this, [this] { BreakLink(); });
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { m_host.RepaintList(); });
    m_acknowledgeTimer.setSingleShot(true);
    connect(&m_acknowledgeTimer, &QTimer::timeout, this, [this] {
        // No acknowledgement came: the last packet has long left the line.
        if (m_active && m_awaitingAcknowledge)
            CompleteSend();
    });
    connect(&m_port, &SerialPort::LineBroken, this, [this](const QString& reason) {
        if (m_active)
            BreakLink(reason);
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
    m_acknowledgeTimer.stop();
}

int TransferSession::WatchdogMs() const
{
    // A slow line may need longer than the silence limit for one packet.
    return m_timings.watchdogMs +
           2 * int(SerialPort::WireTimeMs(kFullPacketBytes, m_port.CurrentBaud()));
}

QString TransferSession::PortProblem(const QString& reason) const
{
    switch (DiagnoseOpenFailure(m_host.Link().portName)) {
    case PortOpenFailure::NoPermission:
        return reason + u'\n' + m_host.LocalText(kPermissionHintZh, kPermissionHintEn);
    case PortOpenFailure::InUse:
        return reason + u'\n' + m_host.LocalText(kInUseHintZh, kInUseHintEn);
    case PortOpenFailure::NotSerialPort:
        return reason + u'\n' +
               m_host.LocalText(kNotSerialZh, kNotSerialEn).arg(m_host.Link().portName);
    case PortOpenFailure::Other:
        break;
    }
    return reason;
}

bool TransferSession::CheckBaudText()
{
    // A speed typed into the box is refused before the line is touched.
    const QString text = m_host.BaudText().trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch() || text.toInt() <= 0) {
        m_host.ShowMessage(kBaudNotNumberZh, kBaudNotNumberEn, text);
        return false;
    }
    if (!IsAcceptableBaud(text.toInt())) {
        m_host.ShowMessage(kBaudNotSettableZh, kBaudNotSettableEn, text);
        return false;
    }
    return true;
}

void TransferSession::StartTransfer()
{
    ++m_generation;
    m_createdNew = false;
    m_receive.reset();
    m_send.reset();
    m_switchingSpeed = false;
    m_awaitingAcknowledge = false;
    m_receiving = m_host.IsReceiveMode();
    if (!m_receiving && !CheckBaudText())
        return;
    m_baud = LeadingInt(m_host.BaudText());
    if (m_receiving)
        StartReceive();
    else
        StartNextSend();
}

// ---------------------------------------------------------------- receive

void TransferSession::StartReceive()
{
    // A name the operator edited starts a new series.
    if (m_continuousCounter > 0 && m_host.ReceiveTargetText().trimmed() != m_targetName)
        m_continuousCounter = 0;
    QString name;
    if (m_continuousCounter > 0) {
        name = ContinuousName(m_continuousBase, m_continuousCounter);
        m_host.SetReceiveTargetText(name);
    } else {
        name = m_host.ReceiveTargetText().trimmed();
        m_continuousBase = name;
    }
    m_targetName = name;
    m_fileStarted = QDateTime::currentDateTimeUtc();
    m_dataBaud = 0;
    if (name.isEmpty()) {
        // A series whose next name cannot be formed starts again from the typed name.
        m_continuousCounter = 0;
        m_host.ShowMessage(kNoTargetZh, kNoTargetEn);
        m_host.ReceiveEnded(name, kNoTargetZh, kNoTargetEn);
        return;
    }
    m_host.RememberPath(name);
    CloseFile(false);

    // What can be known before any data arrives is checked now, not after
    // the whole transfer.
    QString reason;
    LocalReason problem;
    if (!CheckReceiveTarget(name, &problem)) {
        RefuseReceive(kCannotOpenZh, kCannotOpenEn,
                      m_host.LocalText(problem.chineseId, problem.englishId).arg(problem.path));
        return;
    }
    const bool exists = PathExists(name);
    if (exists && !m_host.AskOverwrite(QFileInfo(name).absoluteFilePath())) {
        m_continuousCounter = 0;
        return;
    }
    auto file = std::make_unique<QFile>();
    if (exists) {
        // The existing file stays as it is until the new data has arrived
        // whole. The staging file only marks the receive in the temporary
        // folder; the data waits in memory, so a folder that refuses it
        // blocks nothing.
        if (CreateStagingFile(name, *file))
            m_file = std::move(file);
    } else {
        if (!OpenPath(*file, name, QIODevice::WriteOnly | QIODevice::NewOnly, &reason)) {
            RefuseReceive(kCannotOpenZh, kCannotOpenEn,
                          QStringLiteral("%1: %2").arg(QFileInfo(name).absolutePath(), reason));
            return;
        }
        m_createdNew = true;
        m_file = std::move(file);
    }

    m_active = true;
    EnableControls(false);
    if (!OpenPort(m_port, m_host.Link(), &reason)) {
        const QString detail = PortProblem(reason);
        ReportFile(FileReport::kPortError, kPortErrorZh, kPortErrorEn, nullptr, detail);
        m_host.ShowMessage(kPortErrorZh, kPortErrorEn, detail);
        EndTransfer(nullptr, kReceiveErrorZh, kReceiveErrorEn, true);
        return;
    }
    m_receive.emplace();
    m_headerTimer.start(m_timings.headerRequestMs);
}

void TransferSession::RefuseReceive(int chineseId, int englishId, const QString& detail)
{
    m_continuousCounter = 0;
    ReportFile(FileReport::kFileError, chineseId, englishId, nullptr, detail);
    m_host.ShowMessage(chineseId, englishId, detail);
    m_host.ReceiveEnded(m_targetName, chineseId, englishId);
}

bool TransferSession::CreateStagingFile(const QString& target, QFile& file)
{
    // Another receive (a second copy of the program, say) may take the free
    // name between the look and the creation: then the next one is tried.
    for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
        const QString staging = StagingName(target);
        if (staging.isEmpty())
            return false;
        if (OpenPath(file, staging, QIODevice::WriteOnly | QIODevice::NewOnly, nullptr)) {
            m_stagingName = staging;
            return true;
        }
        if (!PathExists(staging))
            return false; // not a name taken meanwhile: the directory refuses
    }
    return false;
}

void TransferSession::OnReceiveChunk(const QByteArray& chunk)
{
    if (m_switchingSpeed || !m_receive)
        return; // nothing is due while DC4 is still leaving the line
    if (IsRequestForFile(chunk) && m_host.AnswerRequestWithSend()) {
        AnswerWithSend(chunk);
        return;
    }
    const ReceiveProtocol::Step step = m_receive->Feed(chunk);
    // DC3 is asked again until a packet's DC1 comes; noise does not stop it.
    if (m_receive->GetState() != ReceiveProtocol::State::WaitingForData)
        m_readyTimer.stop();
    if (step.headerStarted)
        m_headerTimer.stop();
    // From the header's first byte on, the link counts as broken when the
    // protocol takes no byte for a while; noise between packets (bytes of a
    // wrong speed, say) does not keep it alive.
    const ReceiveProtocol::State state = m_receive->GetState();
    if (step.headerStarted || step.packetDone ||
        state == ReceiveProtocol::State::CollectingHeader ||
        state == ReceiveProtocol::State::CollectingPacket)
        m_watchdog.start(WatchdogMs());
    if (step.failure == ReceiveProtocol::Failure::HeaderCheck ||
        step.failure == ReceiveProtocol::Failure::BadHeader) {
        EndTransfer(FileReport::kDataError, kReceiveErrorZh, kReceiveErrorEn, true);
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
        EndTransfer(FileReport::kDataError, kReceiveErrorZh, kReceiveErrorEn, true);
    else if (step.finished)
        FinishReceive();
}

bool TransferSession::IsRequestForFile(const QByteArray& chunk) const
{
    // The controller's DC2 while no header has begun: it wants to read.
    if (m_receive->GetState() != ReceiveProtocol::State::WaitingForHeader)
        return false;
    const qsizetype request = chunk.indexOf(kDC2);
    const qsizetype header = chunk.indexOf(kDC1);
    return request >= 0 && (header < 0 || request < header);
}

void TransferSession::AnswerWithSend(const QByteArray& request)
{
    // The receive ends as Cancel ends it, without a file report: no file
    // began. The request goes to the send.
    StopSession();
    RemoveStagingFile();
    m_receiving = false;
    m_baud = LeadingInt(m_host.BaudText());
    m_rowCursor = 0;
    StartNextSend();
    if (m_active && !m_receiving)
        OnSendChunk(request);
}

void TransferSession::AcceptHeader()
{
    const int baud = m_receive->Baud();
    if (!m_port.CanSetBaud(baud)) {
        // Refused before DC4; a line whose speed is fixed says so.
        const QString announced = m_host.LocalText(kAnnouncedZh, kAnnouncedEn).arg(baud);
        if (m_port.FixedBaud() > 0)
            EndTransfer(FileReport::kPortError, kFixedSpeedZh, kFixedSpeedEn, true, announced);
        else
            EndTransfer(FileReport::kDataError, kReceiveErrorZh, kReceiveErrorEn, true, announced);
        return;
    }
    // A volume without room for the file is known now, before DC4.
    qint64 available = 0;
    QString volume;
    if (!CheckRoomFor(m_targetName, m_receive->TotalLength(), &available, &volume)) {
        EndTransfer(FileReport::kFileError, kCannotSaveZh, kCannotSaveEn, true,
                    m_host.LocalText(kNoRoomZh, kNoRoomEn)
                        .arg(m_receive->TotalLength())
                        .arg(available)
                        .arg(volume));
        return;
    }
    SendByte(kDC4);
    m_baud = baud;
    m_dataBaud = baud;
    m_host.SetProgressRange(0, int(m_receive->TotalLength()));
    m_port.SetInBufferCount(0);
    m_host.ShowAnnouncedBaud(baud);
    m_watchdog.start(WatchdogMs());
    // The speed changes only once DC4 has left the line at the old speed.
    m_switchingSpeed = true;
    const quint64 generation = m_generation;
    m_port.Drain([this, generation, baud] {
        if (generation != m_generation || !m_active)
            return;
        m_switchingSpeed = false;
        if (!ApplyBaudRate(m_port, baud, m_host.Link())) {
            EndTransfer(FileReport::kPortError, kReceiveErrorZh, kReceiveErrorEn, true);
            return;
        }
        m_port.SetInBufferCount(0);
        m_readyTimer.start(m_timings.readyRequestMs);
    });
}

void TransferSession::FinishReceive()
{
    m_active = false;
    StopTimers();
    const QByteArray data = m_receive->Data();
    const bool createdNew = m_createdNew;
    CloseFile(false);
    QString reason;
    const bool saved = SaveAtomically(m_targetName, data, &reason);
    QString detail, recovered;
    if (!saved) {
        if (createdNew)
            RemovePath(m_targetName); // not the empty placeholder either
        // Data that arrived intact is never thrown away.
        QString why;
        recovered = KeepRecoveryCopy(m_targetName, data, &why);
        detail =
            reason + u'\n' +
            (recovered.isEmpty()
                 ? m_host.LocalText(kNotKeptZh, kNotKeptEn).arg(why)
                 : m_host.LocalText(kKeptInZh, kKeptInEn).arg(QDir::toNativeSeparators(recovered)));
        m_continuousCounter = 0;
    }
    m_createdNew = false;
    const int zh = saved ? kReceivedZh : kCannotSaveZh;
    const int en = saved ? kReceivedEn : kCannotSaveEn;
    ReportFile(saved ? FileReport::kReceived : FileReport::kNotSaved, zh, en, &data, detail,
               recovered);
    m_receive.reset();
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
    m_host.ShowMessage(zh, en, detail);
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
        m_sendPath = path;
        m_fileStarted = QDateTime::currentDateTimeUtc();
        m_dataBaud = 0;
        // What can be known now is checked now; the file is read when the
        // receiver asks for it.
        SendSource source(path, m_host.SendsThroughLinks());
        qint64 length = 0;
        if (const SendSource::Problem problem = source.Look(&length);
            problem != SendSource::Problem::None) {
            SkipSendFile(row, source, problem);
            continue;
        }
        m_source = std::move(source);

        m_host.SetRowState(row, m_host.LocalText(kRowStartZh, kRowStartEn));
        m_host.EnsureRowVisible(row);
        m_host.SetProgressRange(0, int(length));
        EnableControls(false);
        QString reason;
        if (!OpenPort(m_port, m_host.Link(), &reason)) {
            // The row says why it was not sent, and the next Start begins with it.
            m_active = false;
            const QString detail = PortProblem(reason);
            m_host.SetRowState(row, m_host.LocalText(kPortErrorZh, kPortErrorEn));
            ReportFile(FileReport::kPortError, kPortErrorZh, kPortErrorEn, nullptr, detail);
            m_rowCursor = row;
            m_host.ShowMessage(kPortErrorZh, kPortErrorEn, detail);
            m_host.ShowMessage(kSendErrorZh, kSendErrorEn);
            EnableControls(true);
            return;
        }
        if (m_port.FixedBaud() > 0)
            m_baud = m_port.FixedBaud(); // the line cannot change speed: announce its own
        m_dataBaud = m_baud;
        m_active = true;
        return;
    }
}

void TransferSession::SkipSendFile(int row, const SendSource& source, SendSource::Problem problem)
{
    int zh = kCannotOpenZh, en = kCannotOpenEn;
    const char* outcome = FileReport::kFileError;
    QString detail;
    switch (problem) {
    case SendSource::Problem::None:
        return;
    case SendSource::Problem::Missing:
        zh = kNoSuchFileZh;
        en = kNoSuchFileEn;
        break;
    case SendSource::Problem::NotRegular:
        detail = m_host.LocalText(kNotRegularZh, kNotRegularEn).arg(source.Path());
        break;
    case SendSource::Problem::CannotOpen:
        detail = source.Detail();
        break;
    case SendSource::Problem::Empty:
        zh = kNoDataZh;
        en = kNoDataEn;
        outcome = FileReport::kNoData;
        break;
    case SendSource::Problem::TooLong: // no header can announce it
    case SendSource::Problem::ShortRead:
        zh = kCannotReadWholeZh;
        en = kCannotReadWholeEn;
        detail = source.Detail();
        break;
    }
    m_host.SetRowState(row, m_host.LocalText(zh, en));
    ReportFile(outcome, zh, en, nullptr, detail);
}

bool TransferSession::ReadSendFile()
{
    // The first request for the header: the file is read as it is now. One
    // that went or became something else since Start is not sent; the same
    // request goes to the next file.
    while (m_active && !m_receiving && !m_send) {
        const SendSource::Problem problem = m_source->Read();
        if (problem == SendSource::Problem::None) {
            m_host.SetProgressRange(0, int(m_source->Data().size()));
            m_send.emplace(m_source->Data(), m_baud);
            return true;
        }
        SkipSendFile(CurrentRow(), *m_source, problem);
        StopSession();
        StartNextSend();
    }
    return m_active && !m_receiving && m_send;
}

void TransferSession::OnSendChunk(const QByteArray& chunk)
{
    m_port.SetInBufferCount(0);
    if (!m_send && (!m_source || !chunk.contains(kDC2) || !ReadSendFile()))
        return;
    if (m_awaitingAcknowledge) {
        // The receiver's DC2 after the last packet acknowledges the file; only
        // a DC2 after it asks for the next file's header.
        if (chunk.contains(kDC2)) {
            m_acknowledgeTimer.stop();
            CompleteSend();
        }
        return;
    }
    const int counterBefore = m_send->PacketCounter();
    const SendProtocol::Step step = m_send->Feed(chunk);
    if (step.switchSpeed && !ApplyBaudRate(m_port, m_send->Baud(), m_host.Link())) {
        m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowFailedZh, kRowFailedEn));
        m_rowCursor = CurrentRow(); // the next Start goes on with this row
        EndTransfer(FileReport::kPortError, kSendErrorZh, kSendErrorEn, true);
        return;
    }
    // Every answer of the protocol restarts the silence count; requests it
    // cannot use (bytes of a wrong speed, say) do not.
    if (!step.output.isEmpty() || step.switchSpeed)
        m_watchdog.start(WatchdogMs());
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
        // "Complete" once the receiver acknowledges the last packet with its
        // DC2, which comes at the data speed: the line stays at it until
        // then. Without an acknowledgement the file counts as sent once the
        // packet's wire time and a grace period have passed.
        m_awaitingAcknowledge = true;
        m_watchdog.stop();
        m_acknowledgeTimer.start(int(SerialPort::WireTimeMs(step.output.size(), m_send->Baud())) +
                                 kAcknowledgeGraceMs);
    }
}

void TransferSession::CompleteSend()
{
    m_awaitingAcknowledge = false;
    m_repaintTimer.stop();
    m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowCompleteZh, kRowCompleteEn));
    ReportFile(FileReport::kSent, kSentZh, kSentEn, &m_send->File());
    EndTransfer(nullptr, kSentZh, kSentEn, false);
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

void TransferSession::BreakLink(const QString& reason)
{
    if (!m_active)
        return;
    if (!m_receiving) {
        // The next Start resumes at the failed row; rows already complete stay so.
        m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowFailedZh, kRowFailedEn));
        m_rowCursor = CurrentRow();
    }
    EndTransfer(FileReport::kLinkBroken, kLinkBrokenZh, kLinkBrokenEn, true, reason);
}

void TransferSession::CloseFile(bool removeCreated)
{
    if (!m_file)
        return;
    m_file->close();
    m_file.reset();
    if (removeCreated && m_createdNew && m_receiving) {
        RemovePath(m_targetName); // the file created is the target itself
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
    m_source.reset();
    m_switchingSpeed = false;
    m_awaitingAcknowledge = false;
    CloseFile(true);
}

void TransferSession::RemoveStagingFile()
{
    if (!m_stagingName.isEmpty()) {
        RemovePath(m_stagingName);
        m_stagingName.clear();
    }
}

void TransferSession::ReportFile(const char* outcome, int chineseId, int englishId,
                                 const QByteArray* verified, const QString& detail,
                                 const QString& recovered)
{
    FileReport report;
    report.receive = m_receiving;
    const QString path = m_receiving ? m_targetName : m_sendPath;
    report.path = path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
    report.baud = m_dataBaud;
    if (verified) {
        report.bytes = verified->size();
        report.sha256 = QCryptographicHash::hash(*verified, QCryptographicHash::Sha256);
    } else if (m_receive) {
        report.bytes = m_receive->DataOffset();
    } else if (m_send) {
        report.bytes = m_send->DataOffset();
    }
    if (!m_receiving && m_send && m_source)
        report.identity = m_source->Identity();
    report.outcome = QString::fromLatin1(outcome);
    report.chineseId = chineseId;
    report.englishId = englishId;
    report.detail = detail;
    report.recovered = recovered;
    report.started = m_fileStarted;
    report.ended = QDateTime::currentDateTimeUtc();
    m_host.FileFinished(report);
}

void TransferSession::EndTransfer(const char* outcome, int chineseId, int englishId, bool show,
                                  const QString& detail)
{
    if (outcome)
        ReportFile(outcome, chineseId, englishId, nullptr, detail);
    // A receive that ends here did not save: what it created goes again,
    // and a series starts anew.
    StopSession();
    if (m_receiving) {
        m_continuousCounter = 0;
        m_host.ReceiveEnded(m_targetName, chineseId, englishId);
    }
    if (show)
        m_host.ShowMessage(chineseId, englishId, detail);
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
    if (m_active)
        ReportFile(FileReport::kCancelled, 0, 0);
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
    if (m_active)
        ReportFile(FileReport::kCancelled, 0, 0);
    StopSession();
    RemoveStagingFile();
}

} // namespace tapeway
