// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FeedSnapshotCopy.h"

#include "transfer/SendSource.h"
#include "transfer/SystemPath.h"
#include "transfer/TapeLine.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace tapeway {

namespace {

using Kind = FeedProblem::Kind;

// Fresh names tried before the folder counts as unusable.
constexpr int kNameTries = 100;

FeedProblem Problem(Kind kind, const QString& en, const QString& zh)
{
    FeedProblem problem;
    problem.kind = kind;
    problem.reasonEn = en;
    problem.reasonZh = zh;
    return problem;
}

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Closes the descriptor when the scope ends.
struct Descriptor
{
    int fd;
    ~Descriptor() { ::close(fd); }
};

// The same file with the same content as far as the system tells: a save
// changes the size or the modification time, a save by rename the inode, and
// one that puts the old modification time back still changes the ctime.
bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// What the path names now, a final link followed only with followLinks.
bool LookAtPath(const FeedRequest& request, struct stat* info)
{
    const QByteArray name = EncodePath(request.path);
    return (request.followLinks ? ::stat(name.constData(), info)
                                : ::lstat(name.constData(), info)) == 0;
}

// The opened file is still what it was at `before`, and the path still names it.
bool StillSame(int fd, const struct stat& before, const FeedRequest& request)
{
    struct stat now = {}, named = {};
    return ::fstat(fd, &now) == 0 && SameFile(before, now) && LookAtPath(request, &named) &&
           SameFile(now, named);
}

FeedProblem OpenProblem(SendSource::Problem problem, const QString& shown, const QString& detail)
{
    switch (problem) {
    case SendSource::Problem::Missing:
        return Problem(Kind::Missing, QStringLiteral("No such file: %1").arg(shown),
                       QStringLiteral("文件不存在：%1").arg(shown));
    case SendSource::Problem::NotRegular:
        return Problem(Kind::NotRegular, QStringLiteral("Not a regular file: %1").arg(shown),
                       QStringLiteral("不是普通文件：%1").arg(shown));
    default:
        return Problem(Kind::CannotOpen,
                       QStringLiteral("The file cannot be opened: %1").arg(detail),
                       QStringLiteral("无法打开文件：%1").arg(detail));
    }
}

FeedProblem ReadProblem(const QString& shown, int error)
{
    const QString detail = QStringLiteral("%1: %2").arg(shown, SystemReason(error));
    return Problem(Kind::ReadFailed,
                   QStringLiteral("The file could not be read to its end: %1").arg(detail),
                   QStringLiteral("文件无法读完：%1").arg(detail));
}

FeedProblem WriteProblem(const QString& snapshot, int error)
{
    const QString detail = QStringLiteral("%1: %2").arg(DisplayPath(snapshot), SystemReason(error));
    return Problem(Kind::WriteFailed,
                   QStringLiteral("The feed's copy cannot be written: %1").arg(detail),
                   QStringLiteral("无法写入传送副本：%1").arg(detail));
}

FeedProblem FolderProblem(const QString& folder, const QString& reason)
{
    const QString detail = QStringLiteral("%1: %2").arg(DisplayPath(folder), reason);
    return Problem(
        Kind::FolderUnwritable,
        QStringLiteral("The folder for the feed's copy cannot be written: %1").arg(detail),
        QStringLiteral("无法写入存放传送副本的文件夹：%1").arg(detail));
}

FeedProblem RoomProblem(const QString& folder, qint64 needed, qint64 free)
{
    const QString shown = DisplayPath(folder);
    FeedProblem problem =
        Problem(Kind::NoRoom,
                QStringLiteral("Not enough room for the feed's copy: %1 bytes needed, %2 "
                               "available (%3).")
                    .arg(needed)
                    .arg(free)
                    .arg(shown),
                QStringLiteral("磁盘空间不足，无法复制要传送的文件：需要 %1 字节，只有 %2 "
                               "字节可用（%3）。")
                    .arg(needed)
                    .arg(free)
                    .arg(shown));
    problem.neededBytes = needed;
    problem.freeBytes = free;
    return problem;
}

FeedProblem RefusedProblem(const TapeTextChecker& checker, int in, TapeCodeKind code)
{
    const TextPosition at = *checker.Refused();
    // The character may run into the next block: its bytes are read again,
    // and a checker of their own finds the first one refused as before.
    QByteArray head(4, '\0');
    const ssize_t got = ::pread(in, head.data(), size_t(head.size()), at.offset);
    head = got > 0 ? head.left(got) : QByteArray(1, char(checker.RefusedByte()));
    TapeTextChecker alone{TapeCode(code)};
    alone.Add(head);
    const QString character = RefusedCharacterText(head, alone);
    const QString line = QString::number(at.line);
    const QString column = QString::number(at.column);
    FeedProblem problem = Problem(
        Kind::RefusedCharacter,
        QStringLiteral("The character %3 at line %1, column %2 cannot be carried by the %4 code: "
                       "the feed was not started.")
            .arg(line, column, character, CodeName(code)),
        QStringLiteral("第 %1 行第 %2 列的字符 %3 无法用 %4 代码发送：未开始传送。")
            .arg(line, column, character, CodeName(code)));
    problem.at = at;
    problem.byte = checker.RefusedByte();
    problem.character = character;
    return problem;
}

} // namespace

// What one pass learns of the file on the way.
struct FeedSnapshotCopy::Checks
{
    explicit Checks(const FeedRequest& request) : checker(TapeCode(request.code))
    {
        if (!request.restart)
            return;
        const FeedRestart& restart = *request.restart;
        locator = restart.by == FeedRestart::By::Block ? RestartLocator::AtBlock(restart.number)
                                                       : RestartLocator::AtLine(restart.number);
        if (restart.preamble)
            locator->SetPreamble(*restart.preamble);
    }

    QCryptographicHash hash{QCryptographicHash::Sha256};
    TapeTextChecker checker;
    std::optional<RestartLocator> locator;
    qint64 bytes = 0;
};

FeedSnapshotCopy::FeedSnapshotCopy(FeedRequest request) : m_request(std::move(request)) {}

FeedSnapshotCopy::~FeedSnapshotCopy()
{
    Discard();
}

FeedSnapshotCopy::Outcome FeedSnapshotCopy::Run(const std::atomic<bool>& cancel,
                                                std::atomic<qint64>& done,
                                                std::atomic<qint64>& total)
{
    if (!MakeFolder())
        return m_problem;
    m_buffer.resize(m_blockBytes);
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (cancel.load()) {
            Discard();
            return Cancelled{};
        }
        std::optional<Outcome> outcome = Attempt(attempt, cancel, done, total);
        if (!outcome)
            continue; // saved over meanwhile: read it again
        if (std::holds_alternative<FeedSnapshotResult>(*outcome)) {
            const int fd = std::exchange(m_snapshotFd, -1);
            if (::close(fd) == 0) {
                m_snapshotPath.clear(); // the caller's from here on
                return *outcome;
            }
            outcome = WriteProblem(m_snapshotPath, errno);
        }
        Discard();
        return *outcome;
    }
    Discard();
    const QString shown = DisplayPath(m_request.path);
    return Problem(Kind::Changed,
                   QStringLiteral("The file changed while it was read; try again when it is "
                                  "saved: %1")
                       .arg(shown),
                   QStringLiteral("文件在读取时被修改；请在保存完成后重试：%1").arg(shown));
}

std::optional<FeedSnapshotCopy::Outcome> FeedSnapshotCopy::Attempt(int attempt,
                                                                   const std::atomic<bool>& cancel,
                                                                   std::atomic<qint64>& done,
                                                                   std::atomic<qint64>& total)
{
    const QString shown = DisplayPath(m_request.path);
    SendSource source(m_request.path, m_request.followLinks);
    SendSource::Problem opened = SendSource::Problem::None;
    const int fd = source.OpenRegular(&opened);
    if (fd < 0)
        return OpenProblem(opened, shown, source.Detail());
    const Descriptor closer{fd};
    struct stat before = {}, named = {};
    if (::fstat(fd, &before) != 0)
        return ReadProblem(shown, errno);
    if (!LookAtPath(m_request, &named) || !SameFile(before, named))
        return std::nullopt; // replaced between the open and the look
    const qint64 size = before.st_size;
    if (size == 0)
        return Problem(Kind::Empty,
                       QStringLiteral("The file is empty: nothing to feed: %1").arg(shown),
                       QStringLiteral("文件为空，没有可传送的内容：%1").arg(shown));
    done.store(0);
    total.store(size);
    if (m_snapshotFd < 0) {
        if (!CreateSnapshot())
            return m_problem;
    } else if (::ftruncate(m_snapshotFd, 0) != 0) {
        return WriteProblem(m_snapshotPath, errno);
    }

    Checks checks(m_request);
    // A clone shares the file's blocks and is made at once; whatever a writer
    // does to the file later, the clone keeps what it held then, so only the
    // clone itself needs the file unchanged around it. Filesystems without
    // clones (or a folder on another one) refuse, and the file is copied.
    const bool cloned = ::ioctl(m_snapshotFd, FICLONE, fd) == 0;
    const int in = cloned ? m_snapshotFd : fd;
    PassEnd end = PassEnd::Complete;
    if (cloned) {
        if (!StillSame(fd, before, m_request))
            return std::nullopt;
        end = Pass(m_snapshotFd, -1, size, checks, attempt, cancel, done);
    } else {
        if (!HasRoomFor(size))
            return m_problem;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        end = Pass(fd, m_snapshotFd, size, checks, attempt, cancel, done);
        // A character refused in a file being saved may be half of two versions.
        if ((end == PassEnd::Complete || end == PassEnd::Refused) &&
            !StillSame(fd, before, m_request))
            return std::nullopt;
    }
    switch (end) {
    case PassEnd::Cancelled:
        return Cancelled{};
    case PassEnd::Failed:
        return m_problem;
    case PassEnd::Grew:
        return std::nullopt;
    case PassEnd::Refused:
        return RefusedProblem(checks.checker, in, m_request.code);
    case PassEnd::Complete:
        break;
    }
    if (checks.bytes != size)
        return std::nullopt; // shorter than it said it was: it is being written

    FeedSnapshotResult result;
    result.snapshotPath = m_snapshotPath;
    result.bytes = size;
    result.sha256 = checks.hash.result();
    result.identity = SendSource::IdentityOf(before);
    result.cloned = cloned;
    // The position after the last byte: on line N+1 at its start when the
    // last line has its line end, else still on line N.
    const TextPosition after = checks.checker.Position();
    result.lines = after.column == 1 ? after.line - 1 : after.line;
    if (checks.locator) {
        checks.locator->Finish();
        const auto point = checks.locator->Result();
        if (const auto* problem = std::get_if<RestartProblem>(&point)) {
            FeedProblem restart = Problem(Kind::Restart, problem->reasonEn, problem->reasonZh);
            restart.restart = *problem;
            return restart;
        }
        result.restart = std::get<RestartPoint>(point);
        result.lead = checks.locator->Lead();
    }
    return result;
}

FeedSnapshotCopy::PassEnd FeedSnapshotCopy::Pass(int in, int out, qint64 expected, Checks& checks,
                                                 int attempt, const std::atomic<bool>& cancel,
                                                 std::atomic<qint64>& done)
{
    qint64 offset = 0;
    for (;;) {
        if (cancel.load())
            return PassEnd::Cancelled;
        // Up to one byte past the length: that byte tells a file that grew.
        const qint64 want = std::min<qint64>(m_buffer.size(), expected + 1 - offset);
        const ssize_t got = ::pread(in, m_buffer.data(), size_t(want), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            m_problem = ReadProblem(DisplayPath(m_request.path), errno);
            return PassEnd::Failed;
        }
        if (got == 0)
            break;
        if (offset + got > expected)
            return PassEnd::Grew;
        if (out >= 0 && !WriteAt(out, m_buffer.constData(), got, offset, expected))
            return PassEnd::Failed;
        const QByteArrayView block(m_buffer.constData(), got);
        checks.hash.addData(block);
        if (!checks.checker.Add(block))
            return PassEnd::Refused;
        if (checks.locator)
            checks.locator->Add(block);
        offset += got;
        done.store(offset);
        if (m_hook)
            m_hook(attempt, offset);
    }
    checks.bytes = offset;
    return PassEnd::Complete;
}

bool FeedSnapshotCopy::MakeFolder()
{
    const QString& folder = m_request.snapshotFolder;
    const QByteArray name = EncodePath(folder);
    if (name.isEmpty()) {
        m_problem = FolderProblem(folder, SystemReason(ENOENT));
        return false;
    }
    // Every missing folder on the way is made its owner's alone, as the
    // snapshots in it are.
    for (qsizetype slash = name.indexOf('/', 1); slash >= 0; slash = name.indexOf('/', slash + 1)) {
        if (::mkdir(name.left(slash).constData(), 0700) != 0 && errno != EEXIST) {
            m_problem = FolderProblem(folder, SystemReason(errno));
            return false;
        }
    }
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        m_problem = FolderProblem(folder, SystemReason(errno));
        return false;
    }
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        m_problem = FolderProblem(folder, SystemReason(ENOTDIR));
        return false;
    }
    return true;
}

bool FeedSnapshotCopy::CreateSnapshot()
{
    const QString& folder = m_request.snapshotFolder;
    const QString base = folder.endsWith(u'/') ? folder : folder + u'/';
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 0; n < kNameTries; ++n) {
        const QString path =
            base + QStringLiteral("feed-%1-%2")
                       .arg(stamp)
                       .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        const int fd = ::open(EncodePath(path).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            m_snapshotFd = fd;
            m_snapshotPath = path;
            return true;
        }
        if (errno != EEXIST) {
            m_problem = FolderProblem(folder, SystemReason(errno));
            return false;
        }
    }
    m_problem = FolderProblem(folder, SystemReason(EEXIST));
    return false;
}

bool FeedSnapshotCopy::HasRoomFor(qint64 bytes)
{
    struct statvfs info = {};
    if (::statvfs(EncodePath(m_request.snapshotFolder).constData(), &info) != 0)
        return true; // unknown: the writes will tell
    const qint64 free = qint64(info.f_bavail) * qint64(info.f_frsize);
    if (free >= bytes)
        return true;
    m_problem = RoomProblem(m_request.snapshotFolder, bytes, free);
    return false;
}

bool FeedSnapshotCopy::WriteAt(int fd, const char* data, qint64 size, qint64 offset, qint64 whole)
{
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, data, size_t(size), offset);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0) {
            const int error = errno;
            struct statvfs info = {};
            if ((error == ENOSPC || error == EDQUOT) &&
                ::statvfs(EncodePath(m_request.snapshotFolder).constData(), &info) == 0) {
                // What the copy took is free again once it is removed.
                const qint64 free = qint64(info.f_bavail) * qint64(info.f_frsize) + offset;
                m_problem = RoomProblem(m_request.snapshotFolder, whole, free);
                return false;
            }
            m_problem = WriteProblem(m_snapshotPath, error);
            return false;
        }
        data += put;
        size -= put;
        offset += put;
    }
    return true;
}

void FeedSnapshotCopy::Discard()
{
    if (m_snapshotFd >= 0)
        ::close(std::exchange(m_snapshotFd, -1));
    if (!m_snapshotPath.isEmpty())
        RemovePath(std::exchange(m_snapshotPath, QString()));
}

} // namespace tapeway
