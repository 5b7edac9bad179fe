// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/Outbox.h"

#include "serve/InboxNaming.h"
#include "transfer/SendSource.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <unistd.h>
#include <utility>

namespace tapeway {

QStringList Outbox::Queue(const QDateTime& now)
{
    QStringList queue;
    QSet<QString> links;
    // Listed and looked at in the names' own bytes: a name that is not
    // UTF-8 is queued under exactly its name.
    QStringList names = ListFolder(m_dir);
    std::sort(names.begin(), names.end());
    for (const QString& name : names) {
        const QString path = QDir(m_dir).filePath(name);
        if (name.startsWith(u'.'))
            continue;
        if (const auto refused = m_refused.constFind(path); refused != m_refused.constEnd()) {
            if (SendSource::Identify(path) == *refused)
                continue;
            m_refused.erase(refused);
        }
        const PathStatus info = StatPath(path);
        if (info.isLink) {
            links.insert(path);
            if (!m_links.contains(path))
                m_newLinks << path;
            continue;
        }
        if (!info.isFile)
            continue;
        if (now.toMSecsSinceEpoch() - std::max(info.modifiedMs, info.changedMs) < kSettleMs)
            continue;
        queue << path;
    }
    m_links = links; // a link made again is named again
    QStringList order = Order();
    if (order.isEmpty())
        return queue;
    // A name whose file has gone (sent, removed) leaves the order, so that a
    // new file of that name later is not put first by an old choice.
    const qsizetype named = order.size();
    order.removeIf([&](const QString& name) { return !names.contains(name); });
    QString ignored;
    if (order.size() != named)
        SetOrder(order, &ignored, false); // a failed write only keeps the old names a while
    QStringList ordered;
    for (const QString& name : order) {
        const QString path = QDir(m_dir).filePath(name);
        if (queue.removeOne(path))
            ordered << path;
    }
    return ordered + queue;
}

QStringList Outbox::Order() const
{
    QFile file;
    if (!OpenPath(file, QDir(m_dir).filePath(QString::fromLatin1(kOrderFile)), QIODevice::ReadOnly,
                  nullptr))
        return {};
    QStringList names;
    // A plain name per line; anything else (a path, an empty line) means no file here.
    for (const QByteArray& line : file.read(kMaxOrderBytes).split('\n')) {
        const QString name = DecodePath(line.endsWith('\r') ? line.chopped(1) : line);
        if (!name.isEmpty() && !name.contains(u'/') && !name.startsWith(u'.') &&
            !names.contains(name))
            names << name;
    }
    return names;
}

bool Outbox::SetOrder(const QStringList& names, QString* error, bool sync)
{
    QByteArray text;
    for (const QString& name : names) {
        if (name.isEmpty() || name.contains(u'/') || name.contains(u'\n') || name.contains(u'\r') ||
            name.contains(QChar(0)) || name.startsWith(u'.')) {
            *error = QStringLiteral("\"%1\" is not the name of a file in the outbox")
                         .arg(DisplayPath(name));
            return false;
        }
        text += EncodePath(name) + '\n';
    }
    if (text.size() > kMaxOrderBytes) {
        *error = QStringLiteral("the order names more files than the outbox keeps an order for");
        return false;
    }
    const QString target = QDir(m_dir).filePath(QString::fromLatin1(kOrderFile));
    const QString temporary = QDir(m_dir).filePath(
        QStringLiteral(".order-%1")
            .arg(QRandomGenerator::system()->generate64(), 16, 16, QChar(u'0')));
    QFile file;
    QString reason;
    bool written =
        OpenPath(file, temporary, QIODevice::WriteOnly | QIODevice::NewOnly, &reason, 0644);
    if (written) {
        written = file.write(text) == text.size() && file.flush() &&
                  (!sync || ::fsync(file.handle()) == 0);
        if (!written)
            reason = file.errorString();
        file.close();
    }
    if (written && RenamePath(temporary, target, true, &reason))
        return true;
    RemovePath(temporary);
    *error = QStringLiteral("cannot write %1: %2").arg(DisplayPath(target), reason);
    return false;
}

QStringList Outbox::TakeNewLinks()
{
    return std::exchange(m_newLinks, {});
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

QString Outbox::MarkSent(const QString& path, const FileIdentity& sent, const QByteArray& sha256,
                         bool* changed, QString* error)
{
    *changed = false;
    // A file replaced, rewritten or grown since it was read stays queued:
    // what the machine got was another file.
    if (SendSource::Identify(path) != sent || sha256.isEmpty() ||
        SendSource::Sha256Of(path) != sha256) {
        *changed = true;
        return {};
    }
    const QString moved = MoveInto(path, QStringLiteral("sent"), error);
    if (!moved.isEmpty() && SendSource::Identify(moved) != sent) {
        // Replaced between the look and the move: the newer file goes back
        // under its name (which rename never takes from a file newer still;
        // such a file would stay in sent/ under its stamped name).
        if (RenamePath(moved, path, false, nullptr)) {
            *changed = true;
            return {};
        }
    }
    if (moved.isEmpty() && PathExists(path))
        m_refused.insert(path, SendSource::Identify(path)); // never sent twice
    return moved;
}

int Outbox::Failures(const QString& path) const
{
    const auto it = m_failures.constFind(path);
    return it != m_failures.constEnd() && it->identity == SendSource::Identify(path) ? it->count
                                                                                     : 0;
}

bool Outbox::MarkFailed(const QString& path, QString* movedTo)
{
    Failed& failed = m_failures[path];
    const FileIdentity now = SendSource::Identify(path);
    if (failed.identity != now)
        failed = Failed{0, now};
    if (++failed.count < kMaxFailures)
        return false;
    *movedTo = Reject(path);
    return true;
}

QString Outbox::Reject(const QString& path)
{
    QString error;
    const QString moved = MoveInto(path, QStringLiteral("failed"), &error);
    if (moved.isEmpty() && PathExists(path))
        m_refused.insert(path, SendSource::Identify(path));
    return moved;
}

} // namespace tapeway
