// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/SerialPort.h"
#include "serve/InboxPlacement.h"
#include "serve/LineRequests.h"
#include "serve/Outbox.h"
#include "serve/ServeConfig.h"
#include "transfer/FeedStatus.h"
#include "transfer/FileReport.h"
#include "transfer/SessionHost.h"
#include "transfer/TransferSession.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <optional>

namespace tapeway {

// One finished transfer of a line, as the log, the status file and the
// journal see it.
struct LineTransfer
{
    QString line;
    QString port;
    bool sent = false; // false: received from the machine
    QString file;      // where the file is now (inbox, sent/, failed/ or still the outbox)
    qint64 bytes = 0;  // the file's length as announced
    bool ok = false;
    QString outcome; // in the words the dialog shows
    QDateTime finished;
    qint64 elapsedMs = 0; // from the header (receive) or the first packet (send)
    int baud = 0;
    // The session's own report (outcome code, digest, times); its path is
    // where the file is now.
    FileReport report;
};

// One machine served on one port: a transfer session and its host. A
// receive line waits for the machine like the dialog's Receive mode and
// saves every program that arrives whole in the inbox, named by its program
// number; a send line offers the outbox's queue, one file per request; a
// line of both waits as a receiver and answers the machine's own request
// from the outbox. A received request program (its number the line's
// RequestNumber) is not saved: what it asks for goes at the machine's next
// reads, after the outbox's files (LineRequests). A port that cannot be opened or breaks is tried
// again every RetryMs; the line tells why in its status meanwhile.
class ServeLine : public QObject, public SessionHost
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 10000;
    static constexpr int kPollMs = 1000; // an idle send line looks at its outbox

    enum class State
    {
        Connecting,
        Waiting,
        Receiving,
        Sending,
        Error,
        Stopped
    };

    struct Status
    {
        State state = State::Connecting;
        QString file;     // sending: the file
        int percent = 0;  // receiving or sending
        qint64 bytes = 0; // receiving on a tape line, whose length is known only at its end
        QString error;    // why, in State::Error
        int queue = 0;    // files ready in the outbox
        int asked = 0;    // files the machine asked for that it has not read yet
        QString request;  // what the machine's last request asked, in English
        // A tape send's block, line and flow control while its file goes out.
        std::optional<FeedStatus> feed;
        std::optional<LineTransfer> last;
    };

    ServeLine(const LineConfig& config, int language, QObject* parent = nullptr);
    ~ServeLine() override;

    const LineConfig& Config() const { return m_config; }
    const Status& GetStatus() const { return m_status; }
    // True while a file's data moves (a header was accepted or a packet sent).
    bool IsTransferring() const { return m_transferring; }
    // The outbox file the session holds now (asked for, being sent, or
    // waiting for its end); empty when none, or when it is a request's.
    QString SendingPath() const
    {
        return !m_config.outbox.isEmpty() && m_sendingPath.startsWith(m_config.outbox + u'/')
                   ? m_sendingPath
                   : QString();
    }
    void SetRetryMs(int ms) { m_retryTimer.setInterval(ms); }
    // Where the private snapshots of its tape sends go (the service's own
    // folder, not the user's data folder a service user may lack).
    void SetFeedFolder(const QString& folder)
    {
        m_feedFolder = folder;
        m_requests.SetFeedFolder(folder);
    }
    QString PlaceholderPath() const;

    void Start();
    // Ends at once; a transfer under way ends as Cancel ends it.
    void Stop();
    // Stops once the file under way is done; at once when none is.
    void StopAfterFile();
    bool IsStopped() const { return m_stopped; }
    bool IsStopping() const { return m_stopped || m_stopAfterFile; }

    // tapeway::SessionHost
    bool IsReceiveMode() const override { return m_config.Receives(); }
    bool IsContinuousChecked() const override { return false; }
    QString BaudText() const override { return QString::number(m_config.baud); }
    LinkSettings Link() const override { return m_config.link; }
    std::optional<TapeProfile> TapeLine() const override { return m_config.tape; }
    QString ReceiveTargetText() const override { return PlaceholderPath(); }
    void SetReceiveTargetText(const QString& path) override { Q_UNUSED(path); }
    void RememberPath(const QString& path) override { Q_UNUSED(path); }
    QString LocalText(int chineseId, int englishId) const override;
    void ShowMessage(int chineseId, int englishId, const QString& detail = {}) override;
    bool AskOverwrite(const QString& path) override;
    void EnableControls(bool enable) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int pos) override;
    void ShowArrived(qint64 lines, qint64 bytes) override;
    void ShowAnnouncedBaud(int baud) override;
    QString NextCheckedFile(int& rowCursor) override;
    void ClearStateColumn() override {}
    void SetRowState(int row, const QString& text) override;
    void EnsureRowVisible(int row) override { Q_UNUSED(row); }
    void RepaintList() override {}
    // Only files that are really in the outbox are sent.
    bool SendsThroughLinks() const override { return false; }
    void ReceiveEnded(const QString& target, int chineseId, int englishId) override;
    void BatchEnded() override { ScheduleResume(); }
    bool AnswerRequestWithSend() override;
    void FileFinished(const FileReport& report) override;
    QString FeedFolder() const override { return m_feedFolder; }
    std::optional<FeedRestart> FeedRestartFor(const QString& path) const override
    {
        return m_requests.RestartFor(path);
    }
    void ShowFeedStatus(const FeedStatus& status) override;

signals:
    void StatusChanged();
    // One event worth a log line, in the service's language.
    void Event(const QString& text);
    void TransferEnded(const LineTransfer& transfer);
    void Stopped();

private:
    void ScheduleResume();
    void Resume();
    void StartNext();
    void Retry();
    bool EnsurePortOpen();
    void OnLineBroken(const QString& reason);
    void SetState(State state, const QString& file = {}, int percent = 0);
    void SetError(const QString& reason);
    void UpdateQueue();
    // Places the verified program the placeholder holds (InboxPlacement).
    void PlaceReceived();
    void FinishSend(bool ok);
    // A complete send: the file moves to sent/ when it is still what was sent.
    void PlaceSent(LineTransfer& transfer);
    // What a failed receive kept goes to failed/ (else it stays in the
    // recovery folder under a visible name); its path.
    QString PlaceKept(const QString& kept, const QString& outcome);
    // The log line for such a copy; the transfer then names it.
    void TellKept(LineTransfer& transfer);
    void Record(LineTransfer transfer);
    void RemovePlaceholder();
    QString Text(int chineseId, int englishId) const;

    LineConfig m_config;
    int m_language;
    QString m_feedFolder;
    SerialPort m_port;
    TransferSession m_session;
    Outbox m_outbox;
    LineRequests m_requests;
    InboxPlacement m_placement;
    Status m_status;

    QTimer m_retryTimer; // a broken port or folder is tried again
    QTimer m_pollTimer;  // an idle send line looks for new files
    bool m_resumeQueued = false;
    quint64 m_generation = 0; // guards a drain's callback against a later start or stop
    bool m_started = false;
    bool m_stopped = false;
    bool m_stopAfterFile = false;

    QString m_portError;  // the port cannot be opened or broke
    QString m_localError; // the inbox refuses
    QString m_reportedError;

    bool m_transferring = false;
    QString m_sendingPath; // the outbox file the session holds
    bool m_sendFailed = false;
    QString m_lastMessage; // the outcome the session showed last
    qint64 m_total = 0;
    qint64 m_done = 0;
    int m_announcedBaud = 0;
    QElapsedTimer m_clock;
    FileReport m_report; // the session's report of the file that ended last
    // A send's end is known before the session's report of it comes.
    std::optional<LineTransfer> m_awaitingReport;
};

} // namespace tapeway
