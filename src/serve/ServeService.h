// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/ServeConfig.h"
#include "serve/ServeLine.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

namespace tapeway {

class JournalThread;

// The service: every line of the configuration file served at once, in one
// thread, on the event loop. SIGHUP (HandleSignal) reads the file again:
// added lines start, removed lines stop after their current file, changed
// lines restart between files; a file with errors changes nothing. SIGTERM
// and SIGINT stop every line at once, transfers ending as Cancel ends them.
// A status file in the runtime folder is replaced at each change.
class ServeService : public QObject
{
    Q_OBJECT
public:
    static constexpr int kStatusDelayMs = 200; // changes within this time make one write

    struct Options
    {
        QString configPath;
        QString runtimeDir; // empty: StatusFile::PathFor's choice
        int language = 1;
        int retryMs = ServeLine::kRetryMs;
    };

    explicit ServeService(const Options& options, QObject* parent = nullptr);
    ~ServeService() override;

    // Reads the configuration and starts its lines. False, every error told
    // through Message, when it has errors; nothing runs then.
    bool Start();
    void Reload();
    void Stop();
    void HandleSignal(int signalNumber);

    // Every finished transfer is recorded there, with its line's name.
    void SetJournal(JournalThread* journal) { m_journal = journal; }

    QString StatusPath() const { return m_statusPath; }
    // Where the lines' tape sends keep their private snapshots: "feeds" in
    // systemd's state folder for the service ($STATE_DIRECTORY), else beside
    // the status file.
    QString FeedFolder() const;
    QList<const ServeLine*> Lines() const;
    // The running (or finishing) line of that name; null when there is none.
    const ServeLine* LineNamed(const QString& name) const;
    JournalThread* Journal() const { return m_journal; }
    // The configuration's [HTTP] as the service started with it; a reload
    // does not change it (the web server is started once).
    std::optional<HttpConfig> Http() const { return m_http; }
    // What the status file holds: the service and every line.
    QJsonObject StatusObject() const;

signals:
    // A log line (one event), for stderr.
    void Message(const QString& text);
    // Every finished transfer of every line, with the line's name (after
    // the journal, if any, was handed its record).
    void TransferEnded(const LineTransfer& transfer);
    void Finished(int exitStatus);
    // The status was written anew (at most every kStatusDelayMs, but for
    // the start and the stop): the object written, made once for every reader.
    void StatusChanged(const QJsonObject& status);

private:
    void StartPending();
    void OnTransferEnded(const LineTransfer& transfer);
    void OnLineStopped(ServeLine* line);
    bool PortInUse(const LineConfig& config) const;
    void ScheduleStatus();
    void WriteStatus();

    Options m_options;
    QString m_statusPath;
    QDateTime m_startedAt;
    qint64 m_processStart = -1; // this process's start time, so `status` can tell it is alive
    std::vector<std::unique_ptr<ServeLine>> m_lines; // running and finishing, in start order
    QList<LineConfig> m_pending;                     // waiting for their port or their old self
    QTimer m_statusTimer;
    QString m_statusError;
    bool m_stopping = false;
    JournalThread* m_journal = nullptr;
    std::optional<HttpConfig> m_http;
};

} // namespace tapeway
