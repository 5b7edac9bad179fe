#include "transfer/ReceiveFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tapeway {

namespace {

constexpr int kTempAttempts = 100;
// The string table's reasons of the checks before a receive.
constexpr int kNotRegularZh = 194, kNotRegularEn = 195;
constexpr int kFolderNotWritableZh = 198, kFolderNotWritableEn = 199;
constexpr int kNoFolderZh = 224, kNoFolderEn = 225;
constexpr int kFileNotWritableZh = 226, kFileNotWritableEn = 227;
// File names longer than this (in bytes) are cut when a recovery name is formed.
constexpr qsizetype kMaxNameBytes = 200;

QString SystemReason(const std::error_code& error)
{
    return QString::fromLocal8Bit(error.message().c_str());
}

std::filesystem::path NativePath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// A new file with a short free name in folder, opened for writing.
bool CreateTemporary(const QString& folder, QFile& file, QString* reason)
{
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        const QString name =
            QStringLiteral(".tw%1.tmp")
                .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
        file.setFileName(QDir(folder).filePath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (!file.exists()) {
            *reason =
                QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(folder), file.errorString());
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
    const QFileInfo info(target);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return refuse(kNoFolderZh, kNoFolderEn, folder.filePath());
    if (!folder.isWritable())
        return refuse(kFolderNotWritableZh, kFolderNotWritableEn, folder.filePath());
    if (info.exists() || info.isSymLink()) {
        if (!info.isFile())
            return refuse(kNotRegularZh, kNotRegularEn, target);
        if (!info.isWritable())
            return refuse(kFileNotWritableZh, kFileNotWritableEn, target);
    }
    return true;
}

bool CheckRoomFor(const QString& target, qint64 length, qint64* available, QString* volume)
{
    const QStorageInfo storage(QFileInfo(target).absolutePath());
    if (!storage.isValid())
        return true; // nothing known: the save will tell
    *available = storage.bytesAvailable();
    *volume = storage.rootPath();
    return *available < 0 || *available >= length;
}

bool SaveAtomically(const QString& target, const QByteArray& data, QString* reason)
{
    const QFileInfo info(target);
    QFile temp;
    if (!CreateTemporary(info.absolutePath(), temp, reason))
        return false;
    const auto fail = [&](const QString& why) {
        *reason = why;
        temp.close();
        temp.remove();
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
    temp.close();
    if (info.exists())
        temp.setPermissions(QFile::permissions(target));
    std::error_code error;
    std::filesystem::rename(NativePath(temp.fileName()), NativePath(target), error);
    if (error) {
        temp.remove();
        *reason =
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), SystemReason(error));
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
    while (name.toUtf8().size() > kMaxNameBytes)
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("received");
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = QDir(folder).filePath(name + u'-' + stamp);
    for (int n = 1; QFileInfo::exists(path); ++n)
        path = QDir(folder).filePath(QStringLiteral("%1-%2-%3").arg(name, stamp).arg(n));
    if (!SaveAtomically(path, data, reason))
        return {};
    return path;
}

} // namespace tapeway
