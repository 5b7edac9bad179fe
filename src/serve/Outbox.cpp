#include "serve/Outbox.h"

#include "serve/InboxNaming.h"

#include <QDir>
#include <QFileInfo>

namespace tapeway {

QStringList Outbox::Queue(const QDateTime& now) const
{
    QStringList queue;
    const QFileInfoList entries =
        QDir(m_dir).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : entries) {
        if (info.fileName().startsWith(u'.') || m_refused.contains(info.filePath()))
            continue;
        const QDateTime changed = std::max(info.lastModified(), info.metadataChangeTime());
        if (changed.msecsTo(now) < kSettleMs)
            continue;
        queue << info.filePath();
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
    if (moved.isEmpty() && QFileInfo::exists(path))
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
    if (moved.isEmpty() && QFileInfo::exists(path))
        m_refused.insert(path);
    return moved;
}

} // namespace tapeway
