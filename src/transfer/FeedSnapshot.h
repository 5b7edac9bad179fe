// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FeedSnapshotCopy.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <optional>
#include <thread>

namespace tapeway {

// Prepares a drip feed when it starts: a private snapshot of the program as
// it is then, checked against the code and searched for the restart point in
// the same single pass (FeedSnapshotCopy), on a thread of its own, so the
// thread that owns this object keeps turning its event loop. The feed reads
// the snapshot, never the program, which its programmer may save over or
// edit while the feed runs for hours.
//
// Every signal is emitted on the owner's thread: Progress about every
// kProgressMs while the copy runs, then exactly one of Ready, Failed or
// Cancelled.
class FeedSnapshot : public QObject
{
    Q_OBJECT

public:
    static constexpr int kProgressMs = 100;

    explicit FeedSnapshot(QObject* parent = nullptr);
    // Cancels a preparation still running and waits for the block it is in; the
    // snapshot goes too unless SetKeepSnapshot(true).
    ~FeedSnapshot() override;

    // The folder the program's snapshots go into unless told otherwise:
    // "tapeway/feeds" in the user's data folder, shared by the dialog and
    // the command line.
    static QString DefaultFolder();

    // Begins preparing; false while a preparation runs. A snapshot left from
    // an earlier Start is let go as the destructor would.
    bool Start(const FeedRequest& request);
    // Stops the preparation at its next block: the partial snapshot is
    // removed, and only Cancelled follows.
    void Cancel();
    bool IsRunning() const { return m_running; }

    // The prepared feed after Ready, until Remove.
    const std::optional<FeedSnapshotResult>& Snapshot() const { return m_snapshot; }
    // Deletes the snapshot (the feed calls it when it ends); true when there
    // is none any more, else the system's reason in *reason.
    bool Remove(QString* reason = nullptr);
    // With keep, the destructor leaves the snapshot where it is.
    void SetKeepSnapshot(bool keep) { m_keep = keep; }

    // For tests: smaller blocks, and a look between them (on the copying
    // thread), for the next Start.
    void SetBlockBytes(qsizetype bytes) { m_blockBytes = bytes; }
    void SetBlockHook(FeedSnapshotCopy::BlockHook hook) { m_hook = std::move(hook); }

signals:
    // Bytes of the program read of its total (a retry starts again from 0).
    void Progress(qint64 done, qint64 total);
    void Ready(const tapeway::FeedSnapshotResult& result);
    void Failed(const tapeway::FeedProblem& problem);
    void Cancelled();

private:
    void ShowProgress();
    void Finish();
    void LetGo();

    bool m_running = false;
    bool m_cancelled = false;
    bool m_keep = false;
    qsizetype m_blockBytes = FeedSnapshotCopy::kBlockBytes;
    FeedSnapshotCopy::BlockHook m_hook;
    QTimer m_progressTimer;
    qint64 m_shownDone = -1;
    std::optional<FeedSnapshotResult> m_snapshot;

    // Shared with the worker: the atomics while it runs, the outcome once it
    // has ended (it is joined before the outcome is read).
    std::atomic<bool> m_cancel{false};
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
    FeedSnapshotCopy::Outcome m_outcome;
    std::thread m_worker;
};

} // namespace tapeway
