#include "serve/Outbox.h"

#include "serve/InboxNaming.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace tapeway {

QStringList Outbox::Queue(const QDateTime& now) const
{
    QStringList queue;
    // Listed and looked at in the names' own bytes: a name that is not
    // UTF-8 is queued under exactly its name.
    QStringList names = ListFolder(m_dir);
    std::sort(names.begin(), names.end());
    for (const QString& name : names) {
        const QString path = QDir(m_dir).filePath(name);
        const PathStatus info = StatPath(path);
        if (name.startsWith(u'.') || !info.isFile || m_refused.contains(path))
            continue;
        if (now.toMSecsSinceEpoch() - std::max(info.modifiedMs, info.changedMs) < kSettleMs)
            continue;
        queue << path;
    }
    return queue;
}

QString Outbox::MoveInto(const QString& path, const QString& folder, QString* error)
{
    const QString target = QDir(m_dir).filePath(folder);
    if (!QDir().mkpath(target)) {
        *error = QStringLiteral("cannot make the folder %1").arg(target);
        return {};
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString moved =
        MoveToFreeName(path, target, stamp + u'-' + QFileInfo(path).fileName(), error);
    if (!moved.isEmpty())
        m_failures.remove(path);
    return moved;
}

QString Outbox::MarkSent(const QString& path, QString* error)
{
    const QString moved = MoveInto(path, QStringLiteral("sent"), error);
    if (moved.isEmpty() && PathExists(path))
        m_refused.insert(path); // never sent twice
    return moved;
}

bool Outbox::MarkFailed(const QString& path, QString* movedTo)
{
    if (++m_failures[path] < kMaxFailures)
        return false;
    *movedTo = Reject(path);
    return true;
}

QString Outbox::Reject(const QString& path)
{
    QString error;
    const QString moved = MoveInto(path, QStringLiteral("failed"), &error);
    if (moved.isEmpty() && PathExists(path))
        m_refused.insert(path);
    return moved;
}

} // namespace tapeway
