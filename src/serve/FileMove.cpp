// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/FileMove.h"

#include "serve/InboxNaming.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tapeway {

namespace {

constexpr qint64 kChunk = 1 << 20;
constexpr int kTempAttempts = 100;

// Whether a rename can carry source into dir.
bool SameVolume(const QString& source, const QString& dir)
{
#ifdef Q_OS_UNIX
    struct stat from = {}, to = {};
    if (::stat(EncodePath(source).constData(), &from) != 0 ||
        ::stat(EncodePath(dir).constData(), &to) != 0)
        return true; // the rename tells what is wrong
    return from.st_dev == to.st_dev;
#else
    Q_UNUSED(source);
    Q_UNUSED(dir);
    return true;
#endif
}

QString Rename(const QString& source, const QString& dir, const QString& name, OnTaken onTaken,
               QString* error)
{
    if (onTaken == OnTaken::NextFreeName)
        return MoveToFreeName(source, dir, name, error);
    const QString target = QDir(dir).filePath(name);
    QString why;
    if (RenamePath(source, target, onTaken == OnTaken::Replace, &why))
        return target;
    *error = PathExists(target) && onTaken == OnTaken::Refuse
                 ? QStringLiteral("%1 exists").arg(DisplayPath(target))
                 : QStringLiteral("cannot move %1 to %2: %3")
                       .arg(DisplayPath(source), DisplayPath(target), why);
    return {};
}

// A whole copy of source under a fresh hidden name in dir, on the disk.
QString CopyToTemporary(const QString& source, const QString& dir, QString* error)
{
    QFile in;
    QString why;
    if (!OpenPath(in, source, QIODevice::ReadOnly, &why)) {
        *error = QStringLiteral("cannot read %1: %2").arg(DisplayPath(source), why);
        return {};
    }
    QFile out;
    QString temp;
    for (int attempt = 0; attempt < kTempAttempts && !out.isOpen(); ++attempt) {
        temp = QDir(dir).filePath(
            QStringLiteral(".tw%1.move")
                .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0')));
        if (!OpenPath(out, temp, QIODevice::WriteOnly | QIODevice::NewOnly, &why, 0644) &&
            !PathExists(temp)) {
            *error = QStringLiteral("cannot write in %1: %2").arg(DisplayPath(dir), why);
            return {};
        }
    }
    if (!out.isOpen()) {
        *error = QStringLiteral("%1: no free temporary name").arg(DisplayPath(dir));
        return {};
    }
    const auto fail = [&](const QString& reason) {
        *error = QStringLiteral("cannot copy %1 to %2: %3")
                     .arg(DisplayPath(source), DisplayPath(dir), reason);
        out.close();
        RemovePath(temp);
        return QString();
    };
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            return fail(in.errorString());
        // A full disk may show only when the buffer is flushed: every step is checked.
        if (out.write(chunk) != chunk.size())
            return fail(out.errorString());
    }
    if (!out.flush())
        return fail(out.errorString());
#ifdef Q_OS_UNIX
    if (::fsync(out.handle()) != 0)
        return fail(QString::fromLocal8Bit(strerror(errno)));
#endif
    out.close();
    return temp;
}

} // namespace

QString MoveFile(const QString& source, const QString& dir, const QString& name, OnTaken onTaken,
                 QString* error)
{
    if (SameVolume(source, dir))
        return Rename(source, dir, name, onTaken, error);
    const QString temp = CopyToTemporary(source, dir, error);
    if (temp.isEmpty())
        return {};
    const QString moved = Rename(temp, dir, name, onTaken, error);
    if (moved.isEmpty()) {
        RemovePath(temp);
        return {};
    }
    // The copy is whole in its place: the original goes.
    RemovePath(source);
    return moved;
}

} // namespace tapeway
