// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FileReport.h"
#include "transfer/RestartLocator.h"
#include "transfer/TapeCode.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <variant>

namespace tapeway {

// Why a drip feed could not be prepared, in both languages.
struct FeedProblem
{
    enum class Kind
    {
        Missing,          // no such file
        NotRegular,       // a folder, a device, a FIFO, or a link without followLinks
        CannotOpen,       // the system refused to open it: the reason is in the text
        Empty,            // nothing to feed
        ReadFailed,       // the file could not be read to its end
        RefusedCharacter, // a character the code cannot carry: at, byte, character
        Restart,          // no restart point: restart holds the locator's reason
        Changed,          // the file kept changing while it was read
        NoRoom,           // the snapshot folder's disk is too full: neededBytes, freeBytes
        FolderUnwritable, // the snapshot folder cannot be made or written
        WriteFailed,      // the snapshot could not be written for another reason
    };

    Kind kind = Kind::CannotOpen;
    QString reasonEn;
    QString reasonZh;
    TextPosition at;        // RefusedCharacter: line, column and byte offset
    quint8 byte = 0;        // RefusedCharacter: its first byte
    QString character;      // RefusedCharacter: as the operator sees it ("中" (U+4E2D), 0xE4)
    qint64 neededBytes = 0; // NoRoom
    qint64 freeBytes = 0;   // NoRoom
    std::optional<RestartProblem> restart;

    // The reason in the language (0 Chinese, otherwise English).
    QString Message(int language) const { return language == 0 ? reasonZh : reasonEn; }
};

// Where the operator asked the feed to start again.
struct FeedRestart
{
    enum class By
    {
        Block, // the line that starts with block number `number`
        Line   // line `number` of the file, from 1
    };

    By by = By::Block;
    qint64 number = 0;
    // The operator's preamble, instead of the one found in the program.
    std::optional<QByteArray> preamble;
};

// What to prepare: the program, how to open it, where its snapshot goes and
// what the feed will check.
struct FeedRequest
{
    QString path;
    bool followLinks = false;
    QString snapshotFolder;
    TapeCodeKind code = TapeCodeKind::Iso;
    std::optional<FeedRestart> restart;
};

// A prepared feed: the private copy of the program as it was at Start.
struct FeedSnapshotResult
{
    QString snapshotPath;
    qint64 bytes = 0;
    QByteArray sha256;     // of the whole file
    FileIdentity identity; // the file that was read, as it was then
    qint64 lines = 0;
    bool cloned = false;                 // made by the filesystem's clone, not by copying
    std::optional<RestartPoint> restart; // when a restart was asked
    QByteArray lead;                     // RestartLocator::Lead(), when a restart was asked
};

// The single pass that makes a feed's snapshot, run on the thread that calls
// Run. The program is opened as SendSource opens a file and copied in blocks
// to a fresh file (mode 0600) in the snapshot folder (made 0700 when missing);
// each block is checked against the code, handed to the restart locator and
// hashed on the way, so a program of gigabytes costs one block of memory.
// Where the filesystem clones files, the clone is made instead and read once
// for the checks.
//
// The copy is trusted only when the opened file and what its path names are
// the same file, with the same size and times, before and after it; a file
// saved over meanwhile is read again, up to kAttempts times in all.
class FeedSnapshotCopy
{
public:
    static constexpr qsizetype kBlockBytes = 1 << 20;
    static constexpr int kAttempts = 3;

    // Run was cancelled: nothing is left behind.
    struct Cancelled
    {
    };
    using Outcome = std::variant<FeedSnapshotResult, FeedProblem, Cancelled>;
    // Called on the copying thread after each block: the attempt (from 1) and
    // the bytes done in it.
    using BlockHook = std::function<void(int attempt, qint64 done)>;

    explicit FeedSnapshotCopy(FeedRequest request);
    ~FeedSnapshotCopy();
    FeedSnapshotCopy(const FeedSnapshotCopy&) = delete;
    FeedSnapshotCopy& operator=(const FeedSnapshotCopy&) = delete;

    // For tests: smaller blocks, and a look between them.
    void SetBlockBytes(qsizetype bytes) { m_blockBytes = qMax<qsizetype>(1, bytes); }
    void SetBlockHook(BlockHook hook) { m_hook = std::move(hook); }

    // Prepares the feed. cancel is read before every block; done and total
    // tell the current attempt's progress. The snapshot of a result is the
    // caller's; after a problem or a cancel none is left.
    Outcome Run(const std::atomic<bool>& cancel, std::atomic<qint64>& done,
                std::atomic<qint64>& total);

private:
    struct Checks;
    enum class PassEnd
    {
        Complete,
        Refused,
        Cancelled,
        Grew,  // more bytes than the file had when it was opened
        Failed // m_problem says why
    };

    // nullopt: the file changed meanwhile and another attempt may do better.
    std::optional<Outcome> Attempt(int attempt, const std::atomic<bool>& cancel,
                                   std::atomic<qint64>& done, std::atomic<qint64>& total);
    PassEnd Pass(int in, int out, qint64 expected, Checks& checks, int attempt,
                 const std::atomic<bool>& cancel, std::atomic<qint64>& done);
    bool MakeFolder();
    bool CreateSnapshot();
    bool HasRoomFor(qint64 bytes);
    // Writes at offset of the snapshot; whole is the file's length, for a
    // problem of room.
    bool WriteAt(int fd, const char* data, qint64 size, qint64 offset, qint64 whole);
    void Discard();

    FeedRequest m_request;
    qsizetype m_blockBytes = kBlockBytes;
    BlockHook m_hook;
    QByteArray m_buffer;
    QString m_snapshotPath;
    int m_snapshotFd = -1;
    FeedProblem m_problem;
};

} // namespace tapeway
