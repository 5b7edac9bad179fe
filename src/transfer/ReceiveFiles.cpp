// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/ReceiveFiles.h"

#include "transfer/SessionMessages.h"
#include "transfer/SystemPath.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace tapeway {

namespace {

using namespace messages;

constexpr int kTempAttempts = 100;
// File names longer than this (in bytes) are cut when a recovery name is formed.
constexpr qsizetype kMaxNameBytes = 200;

// A new file with a short free name in folder, opened for writing.
bool CreateTemporary(const QString& folder, QFile& file, QString* path, QString* reason)
{
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        const QString name =
            QStringLiteral(".tw%1.tmp")
                .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
        *path = QDir(folder).filePath(name);
        QString why;
        if (OpenPath(file, *path, QIODevice::WriteOnly | QIODevice::NewOnly, &why))
            return true;
        if (!PathExists(*path)) {
            *reason = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(folder), why);
            return false;
        }
    }
    *reason = QStringLiteral("%1: no free temporary name").arg(QDir::toNativeSeparators(folder));
    return false;
}

} // namespace

bool CheckReceiveTarget(const QString& target, LocalReason* reason)
{
    const auto refuse = [reason](int chineseId, int englishId, const QString& path) {
        *reason = LocalReason{chineseId, englishId, QDir::toNativeSeparators(path)};
        return false;
    };
    const QString folder = QFileInfo(target).absolutePath();
    if (!StatPath(folder).isDir)
        return refuse(kNoFolderZh, kNoFolderEn, folder);
    if (!PathWritable(folder))
        return refuse(kFolderNotWritableZh, kFolderNotWritableEn, folder);
    const PathStatus info = StatPath(target);
    if (info.exists || info.isLink) {
        if (!info.isFile)
            return refuse(kNotRegularZh, kNotRegularEn, target);
        if (!PathWritable(target))
            return refuse(kFileNotWritableZh, kFileNotWritableEn, target);
    }
    return true;
}

bool CheckRoomFor(const QString& target, qint64 length, qint64* available, QString* volume)
{
    const QString folder = QFileInfo(target).absolutePath();
#ifdef Q_OS_UNIX
    struct statvfs room = {};
    if (::statvfs(EncodePath(folder).constData(), &room) != 0)
        return true; // nothing known: the save will tell
    *available = qint64(room.f_bavail) * qint64(room.f_frsize);
    const QStorageInfo storage(folder); // only the volume's name: it may not decode the folder
    *volume = storage.isValid() ? storage.rootPath() : folder;
#else
    const QStorageInfo storage(folder);
    if (!storage.isValid())
        return true; // nothing known: the save will tell
    *available = storage.bytesAvailable();
    *volume = storage.rootPath();
#endif
    return *available < 0 || *available >= length;
}

bool SaveAtomically(const QString& target, const QByteArray& data, QString* reason)
{
    QFile temp;
    QString tempPath;
    if (!CreateTemporary(QFileInfo(target).absolutePath(), temp, &tempPath, reason))
        return false;
    const auto fail = [&](const QString& why) {
        *reason = why;
        temp.close();
        RemovePath(tempPath);
        return false;
    };
    // A full disk may show only when the buffer is flushed: check every step.
    if (temp.write(data) != data.size() || !temp.flush())
        return fail(
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), temp.errorString()));
#ifdef Q_OS_UNIX
    if (::fsync(temp.handle()) != 0)
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target),
                                                 QString::fromLocal8Bit(strerror(errno))));
#endif
    // The replacement keeps the permissions of the file it replaces.
    const PathStatus old = StatPath(target);
#ifdef Q_OS_UNIX
    if (old.exists)
        ::fchmod(temp.handle(), mode_t(old.mode));
    temp.close();
#else
    temp.close();
    if (old.exists)
        temp.setPermissions(old.permissions);
#endif
    QString why;
    if (!RenamePath(tempPath, target, true, &why)) {
        RemovePath(tempPath);
        *reason = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), why);
        return false;
    }
    return true;
}

QString KeepRecoveryCopy(const QString& target, const QByteArray& data, QString* reason)
{
    // One folder for the dialog and the command line alike.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/tapeway/recovered");
    if (!QDir().mkpath(folder)) {
        *reason =
            QStringLiteral("%1: cannot create the folder").arg(QDir::toNativeSeparators(folder));
        return {};
    }
    QString name = QFileInfo(target).fileName();
    while (EncodePath(name).size() > kMaxNameBytes ||
           (!name.isEmpty() && name.back().isHighSurrogate()))
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("received");
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = QDir(folder).filePath(name + u'-' + stamp);
    for (int n = 1; PathExists(path); ++n)
        path = QDir(folder).filePath(QStringLiteral("%1-%2-%3").arg(name, stamp).arg(n));
    if (!SaveAtomically(path, data, reason))
        return {};
    return path;
}

} // namespace tapeway
