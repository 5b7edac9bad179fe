// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/SendSource.h"

#include "transfer/Frame.h"
#include "transfer/SystemPath.h"

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tapeway {

namespace {

// How much a file may grow while it is read; the rest counts as a change.
constexpr qint64 kGrowthBytes = 1 << 20;

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

FileIdentity SendSource::IdentityOf(const struct stat& info)
{
    FileIdentity identity;
    identity.device = quint64(info.st_dev);
    identity.inode = quint64(info.st_ino);
    identity.size = qint64(info.st_size);
    identity.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return identity;
}

SendSource::SendSource(const QString& path, bool followLinks)
    : m_path(path), m_followLinks(followLinks)
{
}

SendSource::Problem SendSource::Look(qint64* length) const
{
    const PathStatus info = StatPath(m_path);
    if (m_path.isEmpty() || (!info.exists && !info.isLink))
        return Problem::Missing;
    // Only regular files: opening a FIFO or a device would wait for a
    // writer on the thread that serves the line.
    if ((info.isLink && !m_followLinks) || !info.isFile)
        return info.exists || !m_followLinks ? Problem::NotRegular : Problem::Missing;
    *length = info.size;
    if (*length <= 0)
        return Problem::Empty;
    if (*length > kMaxFileLength)
        return Problem::TooLong;
    return Problem::None;
}

int SendSource::OpenRegular(Problem* problem)
{
    // O_NONBLOCK: something that is not a regular file never makes the open wait.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (m_followLinks ? 0 : O_NOFOLLOW);
    const int fd = ::open(EncodePath(m_path).constData(), flags);
    if (fd < 0) {
        const int error = errno;
        *problem = error == ENOENT  ? Problem::Missing
                   : error == ELOOP ? Problem::NotRegular
                                    : Problem::CannotOpen;
        m_detail = QStringLiteral("%1: %2").arg(m_path, SystemReason(error));
        return -1;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *problem = Problem::NotRegular;
        return -1;
    }
    return fd;
}

SendSource::Problem SendSource::Read()
{
    m_data.clear();
    m_identity = {};
    m_detail.clear();
    Problem problem = Problem::None;
    const int fd = OpenRegular(&problem);
    if (fd < 0)
        return problem;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        m_detail = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return Problem::CannotOpen;
    }
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && info.st_size > kMaxFileLength)
        return Problem::TooLong;
    // What a writer adds meanwhile is read too, up to one byte past the
    // limit, which tells a file too long for a header.
    m_data = file.read(std::min<qint64>(kMaxFileLength + 1, qint64(info.st_size) + kGrowthBytes));
    const bool failed = file.error() != QFileDevice::NoError;
    const bool known = ::fstat(fd, &info) == 0;
    if (failed || !known) {
        m_detail = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        m_data.clear();
        return Problem::ShortRead;
    }
    // The length is what was read: a file that grew or shrank since then
    // no longer matches it.
    m_identity = IdentityOf(info);
    m_identity.size = m_data.size();
    if (m_data.isEmpty())
        return Problem::Empty;
    if (m_data.size() > kMaxFileLength) {
        m_data.clear();
        return Problem::TooLong;
    }
    return Problem::None;
}

FileIdentity SendSource::Identify(const QString& path)
{
    struct stat info = {};
    if (::lstat(EncodePath(path).constData(), &info) != 0)
        return {};
    return IdentityOf(info);
}

QByteArray SendSource::Sha256Of(const QString& path)
{
    SendSource source(path, false);
    Problem problem = Problem::None;
    const int fd = source.OpenRegular(&problem);
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return {};
    return hash.result();
}

} // namespace tapeway
