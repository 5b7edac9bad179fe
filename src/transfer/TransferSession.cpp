// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TransferSession.h"

#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "transfer/FileNaming.h"
#include "transfer/ReceiveFiles.h"
#include "transfer/SendSource.h"
#include "transfer/SessionHost.h"
#include "transfer/SessionMessages.h"
#include "transfer/StartChecks.h"
#include "transfer/SystemPath.h"
#include "transfer/TapeLine.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <limits>
#include <string_view>

namespace tapeway {

namespace {

using namespace messages;

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
    : QObject(parent), m_port(port), m_host(host), m_packetReceive(port, *this),
      m_packetSend(port, *this), m_tapeReceive(port, *this), m_tapeSend(port, *this)
{
    SetTimings(m_timings);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { m_host.RepaintList(); });
    connect(&m_port, &SerialPort::LineBroken, this, [this](const QString& reason) {
        if (m_active)
            BreakLink(reason);
    });
}

TransferSession::~TransferSession() = default;

void TransferSession::SetTimings(const Timings& timings)
{
    m_timings = timings;
    const PacketTimings packet{timings.headerRequestMs, timings.readyRequestMs, timings.watchdogMs};
    m_packetReceive.SetTimings(packet);
    m_packetSend.SetTimings(packet);
}

void TransferSession::StopTimers()
{
    m_repaintTimer.stop();
    m_receiver->Stop();
    m_sender->Stop();
}

void TransferSession::StartTransfer()
{
    ++m_generation;
    m_createdNew = false;
    m_receiver->Stop();
    m_sender->Stop();
    m_fileRead = false;
    m_receiving = m_host.IsReceiveMode();
    if (!ChooseProtocol())
        return;
    if (!m_tape && !m_receiving && !CheckBaudText(m_host))
        return;
    m_baud = StartBaud();
    if (m_receiving)
        StartReceive();
    else
        StartNextSend();
}

bool TransferSession::ChooseProtocol()
{
    m_tape = m_host.TapeLine();
    m_receiver = &m_packetReceive;
    m_sender = &m_packetSend;
    if (!m_tape)
        return true;
    if (!CheckTapeProfile(m_host, *m_tape, m_receiving)) {
        m_tape.reset();
        return false;
    }
    m_tapeReceive.SetProfile(*m_tape);
    m_tapeSend.SetProfile(*m_tape);
    m_receiver = &m_tapeReceive;
    m_sender = &m_tapeSend;
    return true;
}

int TransferSession::StartBaud() const
{
    return m_tape ? m_tape->baud : LeadingInt(m_host.BaudText());
}

LinkSettings TransferSession::LineLink() const
{
    return m_tape ? TapeLinkSettings(*m_tape, m_host.Link()) : m_host.Link();
}

bool TransferSession::OpenLine(QString* reason)
{
    const LinkSettings link = LineLink();
    if (!OpenPort(m_port, link, reason))
        return false;
    if (!m_tape)
        return true;
    // The tape protocol runs at one speed from the first byte.
    if (m_port.FixedBaud() > 0)
        m_baud = m_port.FixedBaud();
    if (ApplyBaudRate(m_port, m_baud, link) && (link.handshaking == SerialPort::kHandshakeNone ||
                                                m_port.GetHandshaking() == link.handshaking))
        return true;
    *reason = m_port.LastError().isEmpty() ? SettingsText(m_baud, link) : m_port.LastError();
    return false;
}

QString TransferSession::KeepArrived(const QByteArray& arrived, QString* detail)
{
    if (!m_receiving || arrived.isEmpty())
        return {};
    QString why;
    const QString recovered = KeepRecoveryCopy(m_targetName, arrived, &why);
    const QString kept =
        recovered.isEmpty()
            ? m_host.LocalText(kNotKeptZh, kNotKeptEn).arg(why)
            : m_host.LocalText(kKeptInZh, kKeptInEn).arg(QDir::toNativeSeparators(recovered));
    *detail = detail->isEmpty() ? kept : *detail + u'\n' + kept;
    return recovered;
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
    if (!OpenLine(&reason)) {
        const QString detail = PortProblemText(m_host, reason);
        ReportFile(FileReport::kPortError, kPortErrorZh, kPortErrorEn, nullptr, detail);
        m_host.ShowMessage(kPortErrorZh, kPortErrorEn, detail);
        EndTransfer(nullptr, kReceiveErrorZh, kReceiveErrorEn, true);
        return;
    }
    m_receiver->Start();
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
    if (m_receiver->IsRequestForFile(chunk) && m_host.AnswerRequestWithSend()) {
        AnswerWithSend(chunk);
        return;
    }
    m_receiver->Feed(chunk);
}

void TransferSession::AnswerWithSend(const QByteArray& request)
{
    // The receive ends as Cancel ends it, without a file report: no file
    // began. The request goes to the send.
    StopSession();
    RemoveStagingFile();
    m_receiving = false;
    m_baud = StartBaud();
    m_rowCursor = 0;
    StartNextSend();
    if (m_active && !m_receiving)
        OnSendChunk(request);
}

std::optional<WireListener::Failure> TransferSession::CheckRoom(qint64 length)
{
    qint64 available = 0;
    QString volume;
    if (CheckRoomFor(m_targetName, length, &available, &volume))
        return std::nullopt;
    return Failure{FileReport::kFileError, kCannotSaveZh, kCannotSaveEn,
                   m_host.LocalText(kNoRoomZh, kNoRoomEn).arg(length).arg(available).arg(volume)};
}

void TransferSession::WireAnnounced(int baud, qint64 length)
{
    m_baud = baud;
    m_dataBaud = baud;
    SetProgressTotal(length);
    m_host.ShowAnnouncedBaud(baud);
}

void TransferSession::WireReceived(const QByteArray& verified)
{
    m_active = false;
    const QByteArray data = verified;
    StopTimers();
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
        EnableControls(false);
        if (m_tape) {
            PrepareFeed(row);
            return;
        }
        SetProgressTotal(length);
        if (!OpenSendLine(row))
            return;
        if (m_port.FixedBaud() > 0)
            m_baud = m_port.FixedBaud(); // the line cannot change speed: announce its own
        m_dataBaud = m_baud;
        m_active = true;
        return;
    }
}

bool TransferSession::OpenSendLine(int row)
{
    QString reason;
    if (OpenLine(&reason))
        return true;
    // The row says why it was not sent, and the next Start begins with it.
    m_active = false;
    const QString detail = PortProblemText(m_host, reason);
    m_host.SetRowState(row, m_host.LocalText(kPortErrorZh, kPortErrorEn));
    ReportFile(FileReport::kPortError, kPortErrorZh, kPortErrorEn, nullptr, detail);
    m_rowCursor = row;
    m_host.ShowMessage(kPortErrorZh, kPortErrorEn, detail);
    m_host.ShowMessage(kSendErrorZh, kSendErrorEn);
    EnableControls(true);
    return false;
}

void TransferSession::SetProgressTotal(qint64 total)
{
    m_progressShift = 0;
    while ((total >> m_progressShift) > std::numeric_limits<int>::max())
        ++m_progressShift;
    m_host.SetProgressRange(0, int(total >> m_progressShift));
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

void TransferSession::ReadSendFile(const QByteArray& request)
{
    // The first request for the header: the file is read as it is now. One
    // that went or became something else since Start is not sent; the same
    // request goes to the next file.
    while (m_active && !m_receiving && !m_fileRead) {
        const SendSource::Problem problem = m_source->Read();
        if (problem == SendSource::Problem::None) {
            SetProgressTotal(m_source->Data().size());
            m_fileRead = true;
            m_progressShown = false;
            m_sender->Begin(m_source->Data(), m_baud, request);
            return;
        }
        SkipSendFile(CurrentRow(), *m_source, problem);
        StopSession();
        StartNextSend();
    }
}

void TransferSession::OnSendChunk(const QByteArray& chunk)
{
    if (m_preparing) {
        m_pendingRequest += chunk; // for the feed, once it begins
        return;
    }
    if (m_sender->Feed(chunk) && m_source)
        ReadSendFile(chunk);
}

void TransferSession::WireSent()
{
    m_repaintTimer.stop();
    m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowCompleteZh, kRowCompleteEn));
    ReportFile(FileReport::kSent, kSentZh, kSentEn, m_tape ? nullptr : &m_source->Data());
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

void TransferSession::WireProgress(qint64 done, qint64 total)
{
    // The bar is at 0 from its range on; a host may take a position of 0 as
    // the end of the file's progress (the CLI's line does).
    if (done > 0)
        m_host.SetProgressPos(int(done >> m_progressShift));
    if (m_receiving)
        return;
    m_host.SetRowState(CurrentRow(), PercentText(done, total));
    // The list is repainted from the second step of the data on.
    if (m_progressShown) {
        m_host.RepaintList();
        if (!m_repaintTimer.isActive())
            m_repaintTimer.start(m_timings.repaintMs);
    }
    m_progressShown = true;
}

void TransferSession::WireFailed(const Failure& failure)
{
    if (!m_receiving) {
        // The next Start resumes at the failed row; rows already complete stay so.
        m_host.SetRowState(CurrentRow(), m_host.LocalText(kRowFailedZh, kRowFailedEn));
        m_rowCursor = CurrentRow();
    }
    QString detail = failure.detail;
    const QString recovered = KeepArrived(failure.arrived, &detail);
    ReportFile(failure.outcome, failure.chineseId, failure.englishId, nullptr, detail, recovered);
    EndTransfer(nullptr, failure.chineseId, failure.englishId, true, detail);
}

void TransferSession::WireArrived(qint64 lines, qint64 bytes)
{
    m_host.ShowArrived(lines, bytes);
}

QString TransferSession::WireText(int chineseId, int englishId) const
{
    return m_host.LocalText(chineseId, englishId);
}

LinkSettings TransferSession::WireLink() const
{
    return LineLink();
}

void TransferSession::BreakLink(const QString& reason)
{
    // What a receive had of its program is kept, as when it fails otherwise.
    if (m_active)
        WireFailed({FileReport::kLinkBroken, kLinkBrokenZh, kLinkBrokenEn, reason,
                    m_receiving ? m_receiver->Arrived() : QByteArray()});
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
    DropFeed();
    m_source.reset();
    m_fileRead = false;
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
    } else {
        report.bytes = m_receiving ? m_receiver->Received() : m_sender->Sent();
    }
    if (!m_receiving && m_tape) {
        // What was fed, as it was fed: a restart's lead and the file from
        // its restart point on.
        if (const auto& feed = m_feedSnapshot ? m_feedSnapshot->Snapshot() : std::nullopt) {
            report.identity = feed->identity;
            if (feed->restart) {
                report.startLine = feed->restart->line;
                if (m_feedRestart && m_feedRestart->by == FeedRestart::By::Block)
                    report.startBlock = m_feedRestart->number;
            }
        }
        if (outcome == std::string_view(FileReport::kSent)) {
            report.bytes = m_tapeSend.FedBytes();
            report.sha256 = m_tapeSend.FedDigest();
        }
    } else if (!m_receiving && m_fileRead && m_source) {
        report.identity = m_source->Identity();
    }
    report.outcome = QString::fromLatin1(outcome);
    report.chineseId = chineseId;
    report.englishId = englishId;
    report.detail = detail;
    report.recovered = recovered;
    if (m_tape) {
        report.protocol = QStringLiteral("tape");
        report.profile = m_tape->name;
    }
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
    // A machine that was fed may still run the blocks in its buffer.
    const bool fed = m_active && m_tape && !m_receiving && m_sender->Sent() > 0;
    if (m_active) {
        QString detail;
        const QString recovered = KeepArrived(m_receiver->Arrived(), &detail);
        ReportFile(FileReport::kCancelled, 0, 0, nullptr, detail, recovered);
    }
    StopSession();
    if (fed)
        m_host.ShowMessage(kFeedCancelledZh, kFeedCancelledEn);
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
    if (m_active) {
        QString detail;
        const QString recovered = KeepArrived(m_receiver->Arrived(), &detail);
        ReportFile(FileReport::kCancelled, 0, 0, nullptr, detail, recovered);
    }
    StopSession();
    RemoveStagingFile();
}

} // namespace tapeway
