// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliHost.h"

#include "cli/CliText.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/ProgressReporter.h"
#include "journal/JournalThread.h"
#include "resources/StringTable.h"
#include "transfer/SystemPath.h"
#include "transfer/TransferSession.h"

#include <QFileInfo>
#include <algorithm>

namespace tapeway {

namespace {

// String pairs (Chinese id, English id) the host looks at.
constexpr int kReceivedEn = 135;
constexpr int kOverwriteZh = 138, kOverwriteEn = 139;
constexpr int kCannotOpenEn = 145;
constexpr int kNoTargetEn = 149;
constexpr int kPortErrorZh = 163;
constexpr int kCannotSaveEn = 164;
constexpr int kRowStartZh = 122, kRowStartEn = 123;
constexpr int kRowCompleteZh = 170, kRowCompleteEn = 171;
constexpr int kDefaultZh = 177, kDefaultEn = 176;

} // namespace

CliHost::CliHost(ProgressReporter& progress, QObject* parent)
    : QObject(parent), m_progress(progress)
{
    m_headerTimeout.setSingleShot(true);
    connect(&m_headerTimeout, &QTimer::timeout, this, &CliHost::OnHeaderTimeout);
}

void CliHost::Configure(const Options& options)
{
    m_options = options;
    m_target = options.target;
    m_results.clear();
    m_saved = 0;
    m_currentRow = -1;
    m_lastOutcomeId = -1;
    m_awaitingNext = false;
    m_portFailed = false;
    m_localProblem = false;
    m_failed = false;
    m_cancelled = false;
    m_timedOut = false;
    m_checkQueued = false;
    m_finished = false;
    m_headerTimeout.stop();
}

int CliHost::ExitStatus() const
{
    if (m_cancelled && !m_timedOut)
        return kExitCancelled;
    if (m_portFailed)
        return kExitPort;
    if (m_localProblem)
        return kExitLocalFile;
    if (m_failed)
        return kExitFailed;
    if (m_timedOut && !(m_options.continuous && m_saved > 0))
        return kExitFailed; // a series that simply stopped coming ended well
    return kExitDone;
}

void CliHost::Interrupt()
{
    if (m_finished)
        return;
    m_cancelled = true;
    m_awaitingNext = false;
    m_headerTimeout.stop();
    m_progress.End();
    if (m_session)
        m_session->CancelTransfer();
    m_progress.Note(CliText(m_options.language, CliMessage::Cancelled));
    ScheduleCheck();
}

bool CliHost::IsContinuousChecked() const
{
    return m_options.continuous && (m_options.count <= 0 || m_saved < m_options.count);
}

QString CliHost::BaudText() const
{
    // A receive takes the speed the controller announces, like the dialog's "Default".
    return m_options.receive ? LocalText(kDefaultZh, kDefaultEn) : m_options.baudText;
}

void CliHost::RememberPath(const QString& path)
{
    // The dialog's path history is its own; the command line leaves it alone.
    Q_UNUSED(path);
}

QString CliHost::LocalText(int chineseId, int englishId) const
{
    return tapeway::LocalText(m_options.language, chineseId, englishId);
}

void CliHost::ShowMessage(int chineseId, int englishId, const QString& detail)
{
    // The first line of a detail is the system's reason, further lines a
    // hint or where data was kept: each on a line of its own.
    QStringList lines = detail.split(u'\n', Qt::SkipEmptyParts);
    const QString reason = lines.isEmpty() ? QString() : lines.takeFirst();
    m_progress.End();
    if (englishId == m_lastOutcomeId) {
        // The result line said it already; the reasons still matter.
        if (!reason.isEmpty())
            m_progress.Note(reason);
    } else {
        QString text = LocalText(chineseId, englishId);
        if (chineseId == kPortErrorZh) {
            m_portFailed = true;
            text = QStringLiteral("%1 %2").arg(m_options.link.portName, text);
        }
        if (!reason.isEmpty())
            text += QStringLiteral(" (%1)").arg(reason);
        m_progress.Note(text);
    }
    for (const QString& line : lines)
        m_progress.Note(line);
}

bool CliHost::AskOverwrite(const QString& path)
{
    if (m_options.overwrite)
        return true;
    m_progress.Note(QStringLiteral("%1: %2 %3")
                        .arg(path, LocalText(kOverwriteZh, kOverwriteEn),
                             CliText(m_options.language, CliMessage::UseOverwrite)));
    m_localProblem = true;
    m_awaitingNext = false;
    ScheduleCheck();
    return false;
}

void CliHost::EnableControls(bool enable)
{
    if (!enable) {
        m_awaitingNext = false;
        if (m_options.receive) {
            m_progress.Note(CliText(m_options.language, CliMessage::WaitingForHeader)
                                .arg(m_target, m_options.link.portName));
            emit FileStarted(m_target);
            if (m_options.headerTimeoutMs > 0)
                m_headerTimeout.start(m_options.headerTimeoutMs);
        }
        return;
    }
    m_headerTimeout.stop();
    ScheduleCheck();
}

void CliHost::SetProgressRange(int lower, int upper)
{
    Q_UNUSED(lower);
    if (m_options.receive) {
        m_headerTimeout.stop();
        emit DataStarted(m_target, upper);
    }
    m_progress.Begin(QFileInfo(CurrentLabel()).fileName(), upper);
}

void CliHost::SetProgressPos(int pos)
{
    if (pos > 0)
        m_progress.Update(pos);
    else
        m_progress.End();
}

void CliHost::ShowArrived(qint64 lines, qint64 bytes)
{
    m_progress.Arrived(lines, bytes);
}

void CliHost::ShowAnnouncedBaud(int baud)
{
    if (m_options.tape)
        return; // the profile's speed, not one the controller chose
    m_progress.Note(CliText(m_options.language, CliMessage::AnnouncedSpeed).arg(baud));
}

std::optional<FeedRestart> CliHost::FeedRestartFor(const QString& path) const
{
    // A restart is given with exactly one FILE: it is that file's.
    if (m_options.receive || m_options.files.size() != 1 || path != m_options.files.first())
        return std::nullopt;
    return m_options.restart;
}

void CliHost::ShowFeedStatus(const FeedStatus& status)
{
    m_progress.Feed(FeedStatusText(status, [this](int zh, int en) { return LocalText(zh, en); }));
}

QString CliHost::NextCheckedFile(int& rowCursor)
{
    // Every file of the command line is a ticked row.
    if (rowCursor < 0 || rowCursor >= m_options.files.size()) {
        rowCursor = -1;
        return {};
    }
    return m_options.files.at(rowCursor++);
}

void CliHost::SetRowState(int row, const QString& text)
{
    if (row < 0 || row >= m_options.files.size() || text.isEmpty() || text.endsWith(u'%'))
        return;
    const QString path = m_options.files.at(row);
    m_currentRow = row;
    if (text == LocalText(kRowStartZh, kRowStartEn)) {
        if (!m_options.tape) {
            m_progress.Note(CliText(m_options.language, CliMessage::Sending)
                                .arg(path)
                                .arg(StatPath(path).size)
                                .arg(m_options.link.portName));
        } else {
            const bool onXon = m_options.tape->startOn == TapeProfile::StartOn::Xon;
            m_progress.Note(CliText(m_options.language,
                                    onXon ? CliMessage::SendingTapeXon : CliMessage::SendingTape)
                                .arg(path)
                                .arg(StatPath(path).size)
                                .arg(m_options.link.portName, m_options.tape->name));
        }
        emit FileStarted(path);
        return;
    }
    // Any other text is the row's outcome: "Complete" or why it was skipped or failed.
    m_progress.End();
    Record(path, text, text == LocalText(kRowCompleteZh, kRowCompleteEn));
}

void CliHost::ReceiveEnded(const QString& target, int chineseId, int englishId)
{
    m_headerTimeout.stop();
    m_progress.End();
    m_lastOutcomeId = englishId;
    const bool ok = englishId == kReceivedEn;
    if (ok)
        ++m_saved;
    if (englishId == kCannotOpenEn || englishId == kCannotSaveEn || englishId == kNoTargetEn)
        m_localProblem = true;
    m_awaitingNext = ok && IsContinuousChecked();
    Record(target, LocalText(chineseId, englishId), ok);
    ScheduleCheck();
}

void CliHost::BatchEnded()
{
    ScheduleCheck();
}

void CliHost::FileFinished(const FileReport& report)
{
    if (m_journal)
        m_journal->Record(TransferRecord::FromReport(report, m_options.link.portName));
    if (report.outcome == QLatin1String(FileReport::kCancelled)) {
        if (m_timedOut)
            return; // no file came: the timeout said so
        m_progress.End();
        Record(report.receive ? m_target : m_options.files.value(m_currentRow),
               CliText(m_options.language, CliMessage::CancelledFile), false);
    } else if (!report.receive && !report.detail.isEmpty() &&
               report.outcome != QLatin1String(FileReport::kPortError)) {
        m_progress.Note(report.detail); // why a row was skipped
    }
}

void CliHost::Record(const QString& path, const QString& outcome, bool ok)
{
    if (!ok)
        m_failed = true;
    m_results.append({path, outcome, ok});
    if (m_options.printResults)
        Console::Out(outcome + u'\t' + EscapeField(path)); // one line, whatever the name holds
    emit FileEnded(path, outcome, ok);
}

void CliHost::ScheduleCheck()
{
    if (m_checkQueued || m_finished)
        return;
    m_checkQueued = true;
    // The session finishes its own steps first (a send goes on with the next
    // row in the same call); the check runs once it has returned.
    QTimer::singleShot(0, this, &CliHost::CheckFinished);
}

void CliHost::CheckFinished()
{
    m_checkQueued = false;
    if (m_finished)
        return;
    if (!m_cancelled) {
        if (m_session && m_session->IsActive())
            return;
        if (m_awaitingNext)
            return; // the next file of the series starts once the line is drained
    }
    m_finished = true;
    m_headerTimeout.stop();
    m_progress.End();
    // Every file of the command line has its result line.
    if (!m_options.receive) {
        for (const QString& file : m_options.files) {
            const bool reported = std::any_of(m_results.cbegin(), m_results.cend(),
                                              [&](const Result& r) { return r.path == file; });
            if (!reported)
                Record(file, CliText(m_options.language, CliMessage::NotSent), false);
        }
    }
    emit Finished(ExitStatus());
}

void CliHost::OnHeaderTimeout()
{
    if (m_finished || !m_session || !m_session->IsActive())
        return;
    m_timedOut = true;
    m_cancelled = true;
    m_awaitingNext = false;
    const bool seriesEnded = m_options.continuous && m_saved > 0;
    m_progress.Note(seriesEnded
                        ? CliText(m_options.language, CliMessage::SeriesEnded)
                        : CliText(m_options.language, m_options.tape ? CliMessage::NothingArrived
                                                                     : CliMessage::HeaderTimeout)
                              .arg(m_options.headerTimeoutMs / 1000.0));
    m_session->CancelTransfer();
    ScheduleCheck();
}

QString CliHost::CurrentLabel() const
{
    if (m_options.receive)
        return m_target;
    if (m_currentRow >= 0 && m_currentRow < m_options.files.size())
        return m_options.files.at(m_currentRow);
    return {};
}

} // namespace tapeway
