// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/ServeLine.h"

#include "resources/StringTable.h"
#include "serve/ServeText.h"
#include "transfer/SystemPath.h"
#include "transfer/TapeLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tapeway {

namespace {

// String pairs (Chinese id, English id) of the session's outcomes.
constexpr int kReceivedEn = 135;
constexpr int kPortErrorZh = 163;
constexpr int kCannotOpenEn = 145;
constexpr int kNoTargetEn = 149;
constexpr int kLinkBrokenZh = 156, kLinkBrokenEn = 157;
constexpr int kRowStartZh = 122, kRowStartEn = 123;
constexpr int kRowCompleteZh = 170, kRowCompleteEn = 171;
constexpr int kRowFailedZh = 175, kRowFailedEn = 174;

QString Seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

} // namespace

ServeLine::ServeLine(const LineConfig& config, int language, QObject* parent)
    : QObject(parent), m_config(config), m_language(language), m_session(m_port, *this),
      m_outbox(config.outbox), m_requests(config, language), m_placement(config)
{
    connect(&m_port, &SerialPort::OnComm, &m_session, &TransferSession::OnComm);
    connect(&m_port, &SerialPort::LineBroken, this, &ServeLine::OnLineBroken);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &ServeLine::Retry);
    m_pollTimer.setInterval(kPollMs);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] {
        UpdateQueue();
        if (m_config.mode == LineMode::Send && m_status.state == State::Waiting &&
            !m_session.IsActive())
            StartNext();
    });
}

ServeLine::~ServeLine()
{
    // Whatever the session created and did not save goes with it.
    m_session.CloseDownTransfer();
    m_port.SetPortOpen(false);
}

QString ServeLine::PlaceholderPath() const
{
    // Hidden beside the programs, so that the final rename stays on one file system.
    return m_config.inbox.isEmpty()
               ? QString()
               : QDir(m_config.inbox).filePath(u'.' + m_config.name + QStringLiteral(".receiving"));
}

QString ServeLine::Text(int chineseId, int englishId) const
{
    return tapeway::LocalText(m_language, chineseId, englishId);
}

QString ServeLine::LocalText(int chineseId, int englishId) const
{
    return Text(chineseId, englishId);
}

// ------------------------------------------------------------ running

void ServeLine::Start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_config.tape)
        emit Event(ServeText(m_language, ServeMessage::TapeStarted)
                       .arg(m_config.name, ModeName(m_config.mode), m_config.link.portName,
                            m_config.tape->name)
                       .arg(m_config.tape->baud)
                       .arg(m_config.tape->FrameText()));
    else
        emit Event(ServeText(m_language, ServeMessage::LineStarted)
                       .arg(m_config.name, ModeName(m_config.mode), m_config.link.portName));
    SetState(State::Connecting);
    if (m_config.Sends())
        m_pollTimer.start();
    StartNext();
}

void ServeLine::Stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    ++m_generation;
    m_retryTimer.stop();
    m_pollTimer.stop();
    const bool transferring = m_transferring;
    m_report = {};
    m_session.CancelTransfer(); // a receive's file goes; a send's file stays queued
    if (transferring) {
        LineTransfer transfer;
        transfer.sent = !m_sendingPath.isEmpty();
        transfer.file = m_sendingPath;
        if (!transfer.sent)
            TellKept(transfer);
        transfer.bytes = m_config.tape && !transfer.sent ? m_done : m_total;
        transfer.outcome = m_report.outcome; // "cancelled"
        transfer.baud = m_report.baud;
        Record(transfer);
    }
    RemovePlaceholder();
    m_port.SetPortOpen(false);
    m_transferring = false;
    m_sendingPath.clear();
    m_sendFailed = false;
    SetState(State::Stopped);
    emit Event(ServeText(m_language, ServeMessage::LineStopped).arg(m_config.name));
    emit Stopped();
}

void ServeLine::StopAfterFile()
{
    if (m_stopped || m_stopAfterFile)
        return;
    if (!m_transferring) {
        Stop();
        return;
    }
    m_stopAfterFile = true;
    emit Event(ServeText(m_language, ServeMessage::LineStopping).arg(m_config.name));
}

void ServeLine::ScheduleResume()
{
    if (m_resumeQueued || m_stopped)
        return;
    m_resumeQueued = true;
    // The session finishes its own steps first (after "Complete" it goes on
    // by itself); the line looks once it has returned.
    QTimer::singleShot(0, this, &ServeLine::Resume);
}

void ServeLine::Resume()
{
    m_resumeQueued = false;
    if (m_stopped)
        return;
    if (m_stopAfterFile && !m_transferring) {
        Stop();
        return;
    }
    if (m_session.IsActive())
        return;
    m_transferring = false;
    if (!m_portError.isEmpty() || !m_localError.isEmpty()) {
        SetError(m_portError.isEmpty() ? m_localError : m_portError);
        m_port.SetPortOpen(false);
        m_retryTimer.start();
        return;
    }
    // The last request of a receive leaves the line before the next start reopens it.
    const quint64 generation = ++m_generation;
    if (!m_port.GetPortOpen()) {
        StartNext();
        return;
    }
    m_port.Drain([this, generation] {
        if (generation == m_generation)
            StartNext();
    });
}

void ServeLine::Retry()
{
    m_portError.clear();
    m_localError.clear();
    SetState(State::Connecting);
    StartNext();
}

bool ServeLine::EnsurePortOpen()
{
    if (m_port.GetPortOpen())
        return true;
    QString reason;
    if (!m_config.tape) {
        if (OpenPort(m_port, m_config.link, &reason))
            return true;
    } else {
        // The idle line already holds the frame, flow control and speed the
        // session starts on, so that the machine never sees another.
        const LinkSettings link = TapeLinkSettings(*m_config.tape, m_config.link);
        if (OpenPort(m_port, link, &reason) &&
            (m_port.FixedBaud() > 0 || ApplyBaudRate(m_port, m_config.tape->baud, link)))
            return true;
        if (reason.isEmpty() && m_port.GetPortOpen())
            reason = m_port.LastError().isEmpty() ? SettingsText(m_config.tape->baud, link)
                                                  : m_port.LastError();
        m_port.SetPortOpen(false);
    }
    m_portError = reason.isEmpty() ? Text(kPortErrorZh, 162) : reason;
    return false;
}

void ServeLine::StartNext()
{
    if (m_stopped || m_session.IsActive() || m_retryTimer.isActive())
        return;
    if (m_stopAfterFile) {
        Stop();
        return;
    }
    UpdateQueue();
    if (m_config.Receives()) {
        RemovePlaceholder();
        if (QFileInfo::exists(PlaceholderPath())) {
            if (m_localError.isEmpty())
                m_localError = QStringLiteral("cannot clear %1").arg(PlaceholderPath());
            ScheduleResume();
            return;
        }
        m_session.StartTransfer(); // opens the port; a failure comes back as a message
    } else {
        if (!EnsurePortOpen()) {
            ScheduleResume();
            return;
        }
        if (m_status.queue == 0)
            SetState(State::Waiting);
        else
            m_session.StartTransfer();
    }
    if (!m_reportedError.isEmpty() && m_port.GetPortOpen()) {
        emit Event(ServeText(m_language, ServeMessage::PortBack)
                       .arg(m_config.name, m_config.link.portName));
        m_reportedError.clear();
    }
}

void ServeLine::OnLineBroken(const QString& reason)
{
    m_portError = QStringLiteral("%1 (%2)").arg(Text(kLinkBrokenZh, kLinkBrokenEn), reason);
    // A session under way ends through its own break; an idle line looks now.
    if (!m_session.IsActive())
        ScheduleResume();
}

// ------------------------------------------------------------ status

void ServeLine::SetState(State state, const QString& file, int percent)
{
    if (state != State::Error)
        m_status.error.clear();
    if (m_status.state == state && m_status.file == file && m_status.percent == percent)
        return;
    if (m_status.state != state)
        m_status.bytes = 0;
    if (state != State::Sending && state != State::Waiting)
        m_status.feed.reset();
    m_status.state = state;
    m_status.file = file;
    m_status.percent = percent;
    emit StatusChanged();
}

void ServeLine::SetError(const QString& reason)
{
    if (reason != m_reportedError) {
        m_reportedError = reason;
        if (!m_portError.isEmpty())
            emit Event(ServeText(m_language, ServeMessage::PortFailed)
                           .arg(m_config.name, m_config.link.portName, reason)
                           .arg(m_retryTimer.interval() / 1000));
        else
            emit Event(ServeText(m_language, ServeMessage::LocalFailed).arg(m_config.name, reason));
    }
    m_status.error = reason;
    if (m_status.state != State::Error) {
        m_status.state = State::Error;
        m_status.file.clear();
        m_status.percent = 0;
        m_status.feed.reset();
    }
    emit StatusChanged();
}

void ServeLine::UpdateQueue()
{
    const int queue = m_config.Sends() ? int(m_outbox.Queue().size()) : 0;
    for (const QString& link : m_outbox.TakeNewLinks())
        emit Event(ServeText(m_language, ServeMessage::LinkSkipped).arg(m_config.name, link));
    if (queue == m_status.queue && m_requests.Size() == m_status.asked)
        return;
    m_status.queue = queue;
    m_status.asked = m_requests.Size();
    emit StatusChanged();
}

void ServeLine::Record(LineTransfer transfer)
{
    transfer.line = m_config.name;
    transfer.port = m_config.link.portName;
    transfer.finished = QDateTime::currentDateTime();
    transfer.report = m_report;
    // Where the file is now; a receive that failed left none, only its inbox.
    transfer.report.path = transfer.file.isEmpty() ? m_config.inbox : transfer.file;
    transfer.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    m_clock.invalidate();
    m_status.last = transfer;
    emit TransferEnded(transfer);
    emit StatusChanged();
}

// ------------------------------------------------------------ receiving

void ServeLine::RemovePlaceholder()
{
    const QString placeholder = PlaceholderPath();
    const QFileInfo info(placeholder);
    if (placeholder.isEmpty() || !info.exists())
        return;
    // A placeholder with data is a program that arrived whole and was not
    // yet placed (a full inbox, a crash): it is placed now, never dropped.
    if (info.size() > 0)
        PlaceReceived();
    else
        QFile::remove(placeholder);
}

void ServeLine::PlaceReceived()
{
    const QString placeholder = PlaceholderPath();
    QFile file(placeholder);
    if (!file.open(QIODevice::ReadOnly)) {
        m_localError = QStringLiteral("cannot read %1: %2").arg(placeholder, file.errorString());
        return;
    }
    const QByteArray data = file.readAll();
    file.close();
    if (const auto taken = m_requests.Take(data)) { // a request is no program: never placed
        QFile::remove(placeholder);
        for (const QString& event : taken->events)
            emit Event(event);
        m_report.detail = m_status.request = taken->note;
        m_lastMessage = m_config.library;
        UpdateQueue();
        return;
    }
    QString error;
    const QString placed =
        m_placement.PlaceReceived(placeholder, data, QDateTime::currentDateTime(), &error);
    if (placed.isEmpty()) {
        m_localError = QStringLiteral("cannot place the received program in %1: %2")
                           .arg(m_placement.Target(), error);
        return;
    }
    emit Event(ServeText(m_language, ServeMessage::Received)
                   .arg(m_config.name, placed)
                   .arg(data.size())
                   .arg(Seconds(m_clock.isValid() ? m_clock.elapsed() : 0)));
    m_lastMessage = placed;
}

void ServeLine::ReceiveEnded(const QString& target, int chineseId, int englishId)
{
    Q_UNUSED(target);
    const QString outcome = Text(chineseId, englishId);
    // A punched program's length is what arrived; a packet header announces it.
    const qint64 bytes = m_config.tape ? m_done : m_total;
    if (englishId == kReceivedEn) {
        m_lastMessage.clear();
        PlaceReceived();
        LineTransfer transfer;
        transfer.file = m_lastMessage.isEmpty() ? PlaceholderPath() : m_lastMessage;
        transfer.bytes = bytes;
        transfer.ok = true;
        transfer.outcome = outcome;
        transfer.baud = m_announcedBaud;
        Record(transfer);
    } else if (m_transferring) {
        if (m_config.tape)
            emit Event(ServeText(m_language, ServeMessage::TapeFailed)
                           .arg(m_config.name)
                           .arg(m_done)
                           .arg(outcome));
        else
            emit Event(ServeText(m_language, ServeMessage::ReceiveFailed)
                           .arg(m_config.name)
                           .arg(m_done)
                           .arg(m_total)
                           .arg(outcome));
        LineTransfer transfer;
        TellKept(transfer);
        transfer.bytes = bytes;
        transfer.outcome = outcome;
        transfer.baud = m_announcedBaud;
        Record(transfer);
    } else if (englishId == kCannotOpenEn || englishId == kNoTargetEn) {
        m_localError = QStringLiteral("%1: %2").arg(m_config.inbox, outcome);
    }
    m_transferring = false;
    m_total = m_done = 0;
    ScheduleResume();
}

// ------------------------------------------------------------ sending

QString ServeLine::NextCheckedFile(int& rowCursor)
{
    // The queue's first file is always the one offered: a file that failed
    // stays first, one that was sent or refused has left the folder.
    // The machine's own requests come after the office's queue.
    const bool stopping = m_stopAfterFile || m_stopped;
    const QStringList queue = stopping || !m_config.Sends() ? QStringList() : m_outbox.Queue();
    m_sendingPath = !queue.isEmpty() ? queue.first() : stopping ? QString() : m_requests.Next();
    rowCursor = m_sendingPath.isEmpty() ? -1 : 1;
    return m_sendingPath;
}

bool ServeLine::AnswerRequestWithSend()
{
    return m_config.Receives() && !m_stopAfterFile && !m_stopped &&
           (m_requests.HasQueued() || (m_config.Sends() && !m_outbox.Queue().isEmpty()));
}

void ServeLine::SetRowState(int row, const QString& text)
{
    Q_UNUSED(row);
    if (m_sendingPath.isEmpty() || text.isEmpty())
        return;
    const QString name = QFileInfo(m_sendingPath).fileName();
    if (text == Text(kRowStartZh, kRowStartEn)) {
        m_sendFailed = false;
        SetState(State::Waiting, name);
        return;
    }
    if (text.endsWith(u'%')) {
        if (!m_transferring) {
            m_transferring = true;
            m_clock.start();
            emit Event(
                ServeText(m_language, ServeMessage::Sending).arg(m_config.name, name).arg(m_total));
        }
        SetState(State::Sending, name, text.chopped(1).toInt());
        return;
    }
    if (text == Text(kRowCompleteZh, kRowCompleteEn)) {
        m_lastMessage = text;
        FinishSend(true);
        return;
    }
    if (text == Text(kRowFailedZh, kRowFailedEn)) {
        m_sendFailed = true; // the reason follows as a message
        return;
    }
    // Any other text says why the file cannot be sent at all.
    const QString moved =
        m_requests.Done(m_sendingPath) ? QString() : m_outbox.Reject(m_sendingPath);
    emit Event(ServeText(m_language, ServeMessage::CannotSend).arg(m_config.name, name, text));
    if (!moved.isEmpty())
        emit Event(
            ServeText(m_language, ServeMessage::MovedToFailed).arg(m_config.name, name, moved));
    m_sendingPath.clear();
}

void ServeLine::FinishSend(bool ok)
{
    const QString path = m_sendingPath;
    const QString name = QFileInfo(path).fileName();
    const bool started = m_transferring;
    m_status.feed.reset(); // written with the transfer's record below, or with the next state
    m_sendingPath.clear();
    m_sendFailed = false;
    m_transferring = false;
    const bool asked = !ok && m_requests.Done(path); // what the machine asked for goes once
    if (!started && !ok)
        return; // the machine never took a byte: no failure of the file
    LineTransfer transfer;
    transfer.sent = true;
    transfer.bytes = m_total;
    transfer.ok = ok;
    transfer.outcome = m_lastMessage;
    transfer.baud = m_config.baud;
    transfer.file = path;
    if (ok) {
        // Where the file goes depends on what was read and sent: the
        // session reports that right after "Complete".
        m_awaitingReport = transfer;
        return;
    }
    if (asked) {
        emit Event(ServeText(m_language, ServeMessage::AskedFailed)
                       .arg(m_config.name, name, m_lastMessage));
        Record(transfer);
        UpdateQueue();
        return;
    }
    QString moved;
    const int failures = m_outbox.Failures(path) + 1;
    const bool gone = m_outbox.MarkFailed(path, &moved);
    emit Event(ServeText(m_language, ServeMessage::SendFailed)
                   .arg(m_config.name, name)
                   .arg(failures)
                   .arg(Outbox::kMaxFailures)
                   .arg(m_lastMessage));
    if (gone && !moved.isEmpty()) {
        transfer.file = moved;
        emit Event(
            ServeText(m_language, ServeMessage::MovedToFailed).arg(m_config.name, name, moved));
    }
    Record(transfer);
    UpdateQueue();
}

// ------------------------------------------------------------ session host

void ServeLine::PlaceSent(LineTransfer& transfer)
{
    const QString path = transfer.file;
    const QString name = QFileInfo(path).fileName();
    const QString seconds = Seconds(m_clock.isValid() ? m_clock.elapsed() : 0);
    transfer.bytes = m_report.bytes;
    if (m_requests.Done(path)) { // sent in place: the library keeps it
        emit Event(ServeText(m_language, ServeMessage::SentAsked)
                       .arg(m_config.name, name)
                       .arg(m_report.bytes)
                       .arg(seconds));
        return;
    }
    bool changed = false;
    QString error;
    const QString moved =
        m_outbox.MarkSent(path, m_report.identity, m_report.sha256, &changed, &error);
    if (changed) {
        // What left is in the journal by its digest; the file as it is now
        // is sent at the next request.
        emit Event(ServeText(m_language, ServeMessage::SentChanged)
                       .arg(m_config.name, name)
                       .arg(m_report.bytes)
                       .arg(QString::fromLatin1(m_report.sha256.toHex()), seconds));
        return;
    }
    // Such a file is not offered again; the line goes on.
    if (moved.isEmpty())
        emit Event(
            ServeText(m_language, ServeMessage::LocalFailed)
                .arg(m_config.name,
                     QStringLiteral("%1 was sent but cannot move to sent/: %2").arg(path, error)));
    else
        transfer.file = moved;
    emit Event(ServeText(m_language, ServeMessage::Sent)
                   .arg(m_config.name, name)
                   .arg(m_report.bytes)
                   .arg(seconds, transfer.file));
}

QString ServeLine::PlaceKept(const QString& kept, const QString& outcome)
{
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    const QString placed = m_placement.KeepFailed(kept, outcome, now, &error);
    if (!placed.isEmpty())
        return placed;
    emit Event(
        ServeText(m_language, ServeMessage::LocalFailed)
            .arg(m_config.name,
                 QStringLiteral("cannot keep %1 in failed/: %2").arg(DisplayPath(kept), error)));
    return m_placement.NameRecovered(kept, now);
}

void ServeLine::TellKept(LineTransfer& transfer)
{
    if (!m_report.receive || m_report.recovered.isEmpty())
        return;
    if (m_report.outcome == QLatin1String(FileReport::kNotSaved))
        emit Event(
            ServeText(m_language, ServeMessage::KeptRecovered)
                .arg(m_config.name, m_report.detail.section(u'\n', 0, 0), m_report.recovered));
    else
        emit Event(
            ServeText(m_language, ServeMessage::KeptFailed).arg(m_config.name, m_report.recovered));
    transfer.file = m_report.recovered;
}

void ServeLine::FileFinished(const FileReport& report)
{
    m_report = report;
    if (report.receive && !report.recovered.isEmpty()) {
        // The session's words name where it kept the copy; they follow it.
        m_report.recovered = PlaceKept(report.recovered, report.outcome);
        m_report.detail.replace(QDir::toNativeSeparators(report.recovered), m_report.recovered);
    }
    if (!m_awaitingReport)
        return;
    LineTransfer transfer = *m_awaitingReport;
    m_awaitingReport.reset();
    PlaceSent(transfer);
    Record(transfer);
    UpdateQueue();
}

void ServeLine::ShowFeedStatus(const FeedStatus& status)
{
    // Only while the line's file goes out; the status file's own delay keeps
    // its writes as few as the other changes make them.
    if (m_sendingPath.isEmpty() || m_status.feed == status)
        return;
    m_status.feed = status;
    emit StatusChanged();
}

void ServeLine::ShowMessage(int chineseId, int englishId, const QString& message)
{
    // One log line per event: a hint on a line of its own joins the reason.
    const QString detail = QString(message).replace(u'\n', QStringLiteral("; "));
    const QString text = Text(chineseId, englishId);
    if (chineseId == kPortErrorZh) {
        m_portError = detail.isEmpty() ? text : detail;
        return;
    }
    m_lastMessage = detail.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, detail);
}

bool ServeLine::AskOverwrite(const QString& path)
{
    // Only the line's own placeholder is ever a target; one still there
    // could not be cleared.
    m_localError = QStringLiteral("cannot clear %1").arg(path);
    ScheduleResume();
    return false;
}

void ServeLine::EnableControls(bool enable)
{
    if (!enable) {
        if (m_sendingPath.isEmpty())
            SetState(State::Waiting);
        return;
    }
    if (m_sendFailed)
        FinishSend(false);
    ScheduleResume();
}

void ServeLine::SetProgressRange(int lower, int upper)
{
    Q_UNUSED(lower);
    m_total = upper;
    m_done = 0;
    if (!m_sendingPath.isEmpty())
        return; // a send's file is loaded; its data starts with the first packet
    m_transferring = true;
    m_clock.start();
    SetState(State::Receiving);
}

void ServeLine::ShowAnnouncedBaud(int baud)
{
    m_announcedBaud = baud;
    if (m_config.tape)
        emit Event(ServeText(m_language, ServeMessage::TapeReceiving).arg(m_config.name).arg(baud));
    else
        emit Event(ServeText(m_language, ServeMessage::Receiving)
                       .arg(m_config.name)
                       .arg(m_total)
                       .arg(baud));
}

void ServeLine::ShowArrived(qint64 lines, qint64 bytes)
{
    Q_UNUSED(lines);
    if (!m_transferring || !m_sendingPath.isEmpty() || bytes == m_done)
        return;
    m_done = bytes;
    m_status.bytes = bytes;
    emit StatusChanged();
}

void ServeLine::SetProgressPos(int pos)
{
    if (pos <= 0 || !m_transferring || !m_sendingPath.isEmpty() || m_total <= 0)
        return;
    m_done = pos;
    SetState(State::Receiving, {}, int(qint64(pos) * 100 / m_total));
}

} // namespace tapeway
