// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/JournalLocation.h"
#include "journal/TransferRecord.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace tapeway {

// A JournalKeeper on a thread of its own: Record and Find return at once and
// the work is done there, so a slow disk or a server that does not answer
// never holds up the caller (a transfer, the dialog). Answers come back as
// signals in the caller's thread.
//
// At the end (Finish, the destructor) the thread has a moment to write what
// it was handed; what it has not written then (a journal that is locked or
// a server that stalls) goes straight to the local journal, pending, and the
// operator is told as for any journal failure: a program ends at once and
// loses no record.
class JournalThread : public QObject
{
    Q_OBJECT
public:
    // How long the end waits for the thread to write what it was handed.
    static constexpr int kFinishMs = 1000;
    // How long the end's local write waits for another program's write.
    static constexpr int kKeepLocallyBusyMs = 500;

    // configured: nullopt when the configured text was wrong; configError says how.
    explicit JournalThread(const std::optional<JournalLocation>& configured,
                           const QString& configError = QString(), QObject* parent = nullptr);
    ~JournalThread() override;

    bool IsOff() const { return m_off; }
    // The configured journal as text (without password), or the configuration error.
    QString ConfiguredText() const { return m_configuredText; }

    void Record(const TransferRecord& record);
    // Answered by Found with the same request number.
    int Find(const JournalQuery& query);
    // Writes what was handed over, then ends the thread; false when that took
    // longer than timeoutMs: the records not written by then went to the
    // local journal (JournalFailed tells of it) and the thread, left to end
    // by itself, tells nobody.
    bool Finish(int timeoutMs = kFinishMs);

signals:
    // A record was written (kept: in the configured journal).
    void Recorded(const QString& id, bool kept);
    // The first record the configured journal did not take, once per object:
    // kept locally (pending for sync) or, when keptLocally is false, nowhere.
    void JournalFailed(bool keptLocally, const QString& reason);
    // records empty and error set when the journal could not be read; note
    // says why only the local journal was read.
    void Found(int request, const QList<tapeway::TransferRecord>& records, const QString& error,
               const QString& note);

private:
    struct Shared;
    void Post(std::function<void(Shared&)> work);
    void KeepLocally(const QList<TransferRecord>& records, int waitedMs, bool tell);

    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    QObject* m_context = nullptr; // lives in m_thread
    std::optional<JournalLocation> m_configured;
    QString m_configError;
    QString m_configuredText;
    bool m_off = false;
    bool m_finished = false;
    int m_lastRequest = 0;
};

// What the operator is told when the configured journal failed: kept in the
// local journal (named) for a later sync, or kept nowhere; reason on the
// second line.
QString JournalFailureText(int language, bool keptLocally, const QString& reason);

} // namespace tapeway
