// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LinkSettings.h"
#include "transfer/SessionHost.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

namespace tapeway {

class JournalThread;
class ProgressReporter;
class TransferSession;

// The command line's side of a transfer session: the operator's choices come
// from the options, the overwrite question is answered by --overwrite,
// progress goes to a ProgressReporter, messages to stderr and one result line
// per file to stdout ("<outcome>\t<path>", the outcome in the words the
// dialog shows). When the session has nothing more to do, Finished carries
// the exit status. With a journal, every file's record goes to it.
class CliHost : public QObject, public SessionHost
{
    Q_OBJECT
public:
    struct Options
    {
        bool receive = false;
        LinkSettings link;
        QString baudText = QStringLiteral("9600"); // send: the speed of the data phase
        QStringList files;                         // send: every file a ticked row
        QString target;                            // receive
        std::optional<TapeProfile> tape;           // the tape protocol; nothing: packet
        std::optional<FeedRestart> restart;        // a tape send of one file: where it restarts
        bool overwrite = false;
        bool continuous = false;
        int count = 0;           // continuous: stop after this many files; 0 = no limit
        int headerTimeoutMs = 0; // 0: wait for the header until cancelled
        int language = 1;        // 0 Chinese, 1 English
        bool printResults = true;
    };

    struct Result
    {
        QString path;
        QString outcome;
        bool ok = false;
    };

    explicit CliHost(ProgressReporter& progress, QObject* parent = nullptr);

    // Takes the options for the next run and forgets the score of the last.
    void Configure(const Options& options);
    void SetSession(TransferSession* session) { m_session = session; }
    void SetJournal(JournalThread* journal) { m_journal = journal; }

    // Ctrl-C: the session is cancelled like with the Cancel button.
    void Interrupt();

    bool IsFinished() const { return m_finished; }
    int ExitStatus() const;
    const QList<Result>& Results() const { return m_results; }

    // tapeway::SessionHost
    bool IsReceiveMode() const override { return m_options.receive; }
    bool IsContinuousChecked() const override;
    QString BaudText() const override;
    LinkSettings Link() const override { return m_options.link; }
    std::optional<TapeProfile> TapeLine() const override { return m_options.tape; }
    QString ReceiveTargetText() const override { return m_target; }
    void SetReceiveTargetText(const QString& path) override { m_target = path; }
    void RememberPath(const QString& path) override;
    QString LocalText(int chineseId, int englishId) const override;
    void ShowMessage(int chineseId, int englishId, const QString& detail = {}) override;
    bool AskOverwrite(const QString& path) override;
    void EnableControls(bool enable) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int pos) override;
    void ShowArrived(qint64 lines, qint64 bytes) override;
    void ShowAnnouncedBaud(int baud) override;
    std::optional<FeedRestart> FeedRestartFor(const QString& path) const override;
    void ShowFeedStatus(const FeedStatus& status) override;
    QString NextCheckedFile(int& rowCursor) override;
    void ClearStateColumn() override {}
    void SetRowState(int row, const QString& text) override;
    void EnsureRowVisible(int row) override { Q_UNUSED(row); }
    void RepaintList() override {}
    void ReceiveEnded(const QString& target, int chineseId, int englishId) override;
    void BatchEnded() override;
    void FileFinished(const FileReport& report) override;

signals:
    // A file's transfer begins (send: its row starts; receive: the session
    // waits for its header).
    void FileStarted(const QString& path);
    // The header was accepted; the data of total bytes follows.
    void DataStarted(const QString& path, qint64 total);
    void FileEnded(const QString& path, const QString& outcome, bool ok);
    void Finished(int exitStatus);

private:
    void Record(const QString& path, const QString& outcome, bool ok);
    void ScheduleCheck();
    void CheckFinished();
    void OnHeaderTimeout();
    QString CurrentLabel() const;

    ProgressReporter& m_progress;
    TransferSession* m_session = nullptr;
    JournalThread* m_journal = nullptr;
    Options m_options;
    QString m_target;
    QTimer m_headerTimeout;

    QList<Result> m_results;
    int m_saved = 0;
    int m_currentRow = -1;
    int m_lastOutcomeId = -1;    // English id of the last receive outcome, whose message repeats it
    bool m_awaitingNext = false; // a continuous receive goes on with the next name
    bool m_portFailed = false;
    bool m_localProblem = false;
    bool m_failed = false;
    bool m_cancelled = false;
    bool m_timedOut = false;
    bool m_checkQueued = false;
    bool m_finished = false;
};

} // namespace tapeway
