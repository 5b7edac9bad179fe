// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tapeway {

namespace {

constexpr char16_t kByteSurrogate = 0xDC00; // + a byte from 0x80 to 0xFF

// Whether text[i] stands for an undecodable byte: a low surrogate of that
// range that is not the second half of a pair.
bool IsByteAt(QStringView text, qsizetype i)
{
    const char16_t c = text.at(i).unicode();
    return c >= 0xDC80 && c <= 0xDCFF && !(i > 0 && text.at(i - 1).isHighSurrogate());
}

// The length of the valid UTF-8 sequence at bytes[i] and its code point;
// 0 when the byte does not start one (overlong forms, encoded surrogates and
// values past U+10FFFF are not valid).
int Utf8Sequence(const QByteArray& bytes, qsizetype i, char32_t* point)
{
    const auto at = [&](qsizetype k) { return quint8(bytes.at(k)); };
    const quint8 lead = at(i);
    int length = 0;
    char32_t value = 0, minimum = 0;
    if (lead < 0x80) {
        *point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const quint8 next = at(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *point = value;
    return length;
}

QString Escaped(const QString& text, bool fields)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (IsByteAt(text, i))
            out += QStringLiteral("\\x%1").arg(int(c - kByteSurrogate), 2, 16, QLatin1Char('0'));
        else if (fields && c == u'\\')
            out += QStringLiteral("\\\\");
        else if (fields && c == u'\t')
            out += QStringLiteral("\\t");
        else if (fields && c == u'\n')
            out += QStringLiteral("\\n");
        else if (fields && c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += QChar(c);
    }
    return out;
}

#ifdef Q_OS_UNIX
void SetReason(QString* reason, int error)
{
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(error));
}

qint64 Milliseconds(const timespec& time)
{
    return qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}
#endif

} // namespace

QString DecodePath(const QByteArray& bytes)
{
    QString path;
    path.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t point = 0;
        const int length = Utf8Sequence(bytes, i, &point);
        if (length == 0) {
            path += QChar(char16_t(kByteSurrogate + quint8(bytes.at(i))));
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            path += QChar(QChar::highSurrogate(point));
            path += QChar(QChar::lowSurrogate(point));
        } else {
            path += QChar(char16_t(point));
        }
        i += length;
    }
    return path;
}

QByteArray EncodePath(const QString& path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype from = 0; // start of the run of ordinary text not yet encoded
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!IsByteAt(path, i))
            continue;
        bytes += QStringView(path).mid(from, i - from).toUtf8();
        bytes += char(path.at(i).unicode() - kByteSurrogate);
        from = i + 1;
    }
    bytes += QStringView(path).mid(from).toUtf8();
    return bytes;
}

QString DisplayPath(const QString& path)
{
    return Escaped(path, false);
}

QString EscapeField(const QString& field)
{
    return Escaped(field, true);
}

#ifdef Q_OS_UNIX

bool OpenPath(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* reason,
              unsigned createMode)
{
    int flags = O_CLOEXEC;
    if (mode & QIODevice::WriteOnly) {
        flags |= (mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY;
        flags |= O_CREAT;
        if (mode & QIODevice::NewOnly)
            flags |= O_EXCL;
        else if (!(mode & QIODevice::Append))
            flags |= O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    const int fd = ::open(EncodePath(path).constData(), flags, mode_t(createMode));
    if (fd < 0) {
        SetReason(reason, errno);
        return false;
    }
    file.setFileName(path);
    if (!file.open(fd, mode & ~QIODevice::NewOnly, QFileDevice::AutoCloseHandle)) {
        if (reason)
            *reason = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

PathStatus StatPath(const QString& path)
{
    PathStatus status;
    const QByteArray name = EncodePath(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0)
        return status;
    status.isLink = S_ISLNK(info.st_mode);
    if (status.isLink && ::stat(name.constData(), &info) != 0)
        return status;
    status.exists = true;
    status.isFile = S_ISREG(info.st_mode);
    status.isDir = S_ISDIR(info.st_mode);
    status.size = qint64(info.st_size);
    status.modifiedMs = Milliseconds(info.st_mtim);
    status.changedMs = Milliseconds(info.st_ctim);
    const mode_t m = info.st_mode;
    status.mode = unsigned(m & 07777);
    const auto set = [&](mode_t bit, QFile::Permissions p) {
        if (m & bit)
            status.permissions |= p;
    };
    set(S_IRUSR, QFile::ReadOwner | QFile::ReadUser);
    set(S_IWUSR, QFile::WriteOwner | QFile::WriteUser);
    set(S_IXUSR, QFile::ExeOwner | QFile::ExeUser);
    set(S_IRGRP, QFile::ReadGroup);
    set(S_IWGRP, QFile::WriteGroup);
    set(S_IXGRP, QFile::ExeGroup);
    set(S_IROTH, QFile::ReadOther);
    set(S_IWOTH, QFile::WriteOther);
    set(S_IXOTH, QFile::ExeOther);
    return status;
}

bool PathWritable(const QString& path)
{
    return ::access(EncodePath(path).constData(), W_OK) == 0;
}

bool RemovePath(const QString& path, QString* reason)
{
    if (::unlink(EncodePath(path).constData()) == 0)
        return true;
    SetReason(reason, errno);
    return false;
}

bool RenamePath(const QString& from, const QString& to, bool replace, QString* reason)
{
    const QByteArray source = EncodePath(from), target = EncodePath(to);
    if (replace) {
        if (::rename(source.constData(), target.constData()) == 0)
            return true;
        SetReason(reason, errno);
        return false;
    }
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        SetReason(reason, errno);
        return false;
    }
#endif
    // A file system without renameat2: a hard link never replaces a file.
    if (::link(source.constData(), target.constData()) != 0) {
        SetReason(reason, errno);
        return false;
    }
    ::unlink(source.constData());
    return true;
}

QStringList ListFolder(const QString& folder)
{
    QStringList names;
    DIR* dir = ::opendir(EncodePath(folder).constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << DecodePath(name);
    }
    ::closedir(dir);
    return names;
}

#else // Windows: names are UTF-16 and QString holds them whole.

bool OpenPath(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* reason,
              unsigned createMode)
{
    Q_UNUSED(createMode);
    file.setFileName(path);
    if (file.open(mode))
        return true;
    if (reason)
        *reason = file.errorString();
    return false;
}

PathStatus StatPath(const QString& path)
{
    const QFileInfo info(path);
    PathStatus status;
    status.isLink = info.isSymLink();
    status.exists = info.exists();
    status.isFile = info.isFile();
    status.isDir = info.isDir();
    status.size = info.size();
    status.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    status.changedMs = info.metadataChangeTime().toMSecsSinceEpoch();
    status.permissions = info.permissions();
    return status;
}

bool PathWritable(const QString& path)
{
    return QFileInfo(path).isWritable();
}

bool RemovePath(const QString& path, QString* reason)
{
    QFile file(path);
    if (file.remove())
        return true;
    if (reason)
        *reason = file.errorString();
    return false;
}

bool RenamePath(const QString& from, const QString& to, bool replace, QString* reason)
{
    if (replace)
        QFile::remove(to);
    QFile file(from);
    if (file.rename(to))
        return true;
    if (reason)
        *reason = file.errorString();
    return false;
}

QStringList ListFolder(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

#endif

bool PathExists(const QString& path)
{
    return StatPath(path).exists;
}

} // namespace tapeway
