// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FeedSnapshot.h"

#include "transfer/SystemPath.h"

#include <QDir>
#include <QStandardPaths>
#include <utility>
#include <variant>

namespace tapeway {

FeedSnapshot::FeedSnapshot(QObject* parent)
    : QObject(parent), m_outcome(FeedSnapshotCopy::Cancelled{})
{
    m_progressTimer.setInterval(kProgressMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &FeedSnapshot::ShowProgress);
}

FeedSnapshot::~FeedSnapshot()
{
    if (m_worker.joinable()) {
        // The worker looks at m_cancel before every block, so this waits
        // one block at most; it never waits for this thread. The notice it
        // may have posted goes with this object.
        m_cancel.store(true);
        m_worker.join();
        if (const auto* result = std::get_if<FeedSnapshotResult>(&m_outcome))
            RemovePath(result->snapshotPath);
    }
    LetGo();
}

QString FeedSnapshot::DefaultFolder()
{
    // Beside the recovered data: one folder for the dialog and the command line alike.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(data.isEmpty() ? QDir::homePath() : data).filePath(QStringLiteral("tapeway/feeds"));
}

bool FeedSnapshot::Start(const FeedRequest& request)
{
    if (m_running)
        return false;
    LetGo();
    m_running = true;
    m_cancelled = false;
    m_cancel.store(false);
    m_done.store(0);
    m_total.store(0);
    m_shownDone = -1;
    m_outcome = FeedSnapshotCopy::Cancelled{};
    m_worker = std::thread([this, request, blockBytes = m_blockBytes, hook = m_hook] {
        FeedSnapshotCopy copy(request);
        copy.SetBlockBytes(blockBytes);
        copy.SetBlockHook(hook);
        m_outcome = copy.Run(m_cancel, m_done, m_total);
        // Its last act: the owner's thread joins it and reports.
        QMetaObject::invokeMethod(this, &FeedSnapshot::Finish, Qt::QueuedConnection);
    });
    m_progressTimer.start();
    return true;
}

void FeedSnapshot::Cancel()
{
    if (!m_running || m_cancelled)
        return;
    m_cancelled = true;
    m_cancel.store(true);
    m_progressTimer.stop();
}

bool FeedSnapshot::Remove(QString* reason)
{
    if (!m_snapshot)
        return true;
    if (!RemovePath(m_snapshot->snapshotPath, reason) && PathExists(m_snapshot->snapshotPath))
        return false;
    m_snapshot.reset();
    return true;
}

void FeedSnapshot::ShowProgress()
{
    const qint64 done = m_done.load();
    if (done == m_shownDone)
        return;
    m_shownDone = done;
    emit Progress(done, m_total.load());
}

void FeedSnapshot::Finish()
{
    // The worker has nothing left to do but return.
    m_worker.join();
    m_running = false;
    m_progressTimer.stop();
    FeedSnapshotCopy::Outcome outcome = std::exchange(m_outcome, FeedSnapshotCopy::Cancelled{});
    if (auto* result = std::get_if<FeedSnapshotResult>(&outcome)) {
        if (m_cancelled) {
            // Cancelled after the last block: what was made goes all the same.
            RemovePath(result->snapshotPath);
            emit Cancelled();
            return;
        }
        m_snapshot = *result;
        if (m_shownDone != result->bytes) {
            m_shownDone = result->bytes;
            emit Progress(result->bytes, result->bytes);
        }
        emit Ready(*result);
    } else if (const auto* problem = std::get_if<FeedProblem>(&outcome); problem && !m_cancelled) {
        emit Failed(*problem);
    } else {
        emit Cancelled();
    }
}

void FeedSnapshot::LetGo()
{
    if (!m_keep)
        Remove();
    m_snapshot.reset();
}

} // namespace tapeway
