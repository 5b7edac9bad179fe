// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/WaitFor.h"
#include "transfer/FeedSnapshot.h"
#include "transfer/SendSource.h"
#include "transfer/SystemPath.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using namespace tapeway;
using Kind = FeedProblem::Kind;

namespace {

// Lines start at 0, 2, 8, 16, 32 (after a CR LF), 44 (after a CR), 52, 56.
const QByteArray kProgram = "%\nO1000\nG90 G54\nN10 G0 X1. Y2.\r\nN20 G1 Z-1.\rN30 X3.\nM30\n%";
const QByteArray kLine = "N10 G1 X1.\n";

void Write(const QString& path, const QByteArray& data)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

FeedRequest Request(const QString& path, const QString& folder,
                    TapeCodeKind code = TapeCodeKind::Iso, std::optional<FeedRestart> restart = {})
{
    return {path, false, folder, code, restart};
}

// A snapshot with its blocks and hook, and what it told.
struct Rig
{
    std::optional<FeedSnapshotResult> result;
    std::optional<FeedProblem> problem;
    bool cancelled = false;
    qint64 lastDone = -1; // the last progress
    FeedSnapshot snapshot;

    explicit Rig(qsizetype blockBytes, FeedSnapshotCopy::BlockHook hook = {})
    {
        snapshot.SetBlockBytes(blockBytes);
        snapshot.SetBlockHook(std::move(hook));
        QObject::connect(&snapshot, &FeedSnapshot::Ready,
                         [this](const FeedSnapshotResult& r) { result = r; });
        QObject::connect(&snapshot, &FeedSnapshot::Failed,
                         [this](const FeedProblem& p) { problem = p; });
        QObject::connect(&snapshot, &FeedSnapshot::Cancelled, [this] { cancelled = true; });
        QObject::connect(&snapshot, &FeedSnapshot::Progress, [this](qint64 d) { lastDone = d; });
    }
    bool End()
    {
        return WaitFor([this] { return result || problem || cancelled; });
    }
    bool Run(const FeedRequest& request) { return snapshot.Start(request) && End(); }
};

} // namespace

// Each row in blocks of 3 bytes (line ends and characters split between
// blocks) and of the usual size. A problem leaves no snapshot.
TEST(FeedSnapshot, CopiesTheProgramOrSaysWhyNot)
{
    constexpr auto kIso = TapeCodeKind::Iso, kEia = TapeCodeKind::Eia;
    const QByteArray cjk = "G0 X1.\nG1 (\xe4\xb8\xad) Y2.\n";
    const QString cjkText = QStringLiteral("\"\u4e2d\" (U+4E2D)");
    const QByteArray lower = "G0 x1.\n";
    const QString lowerText = QStringLiteral("\"x\" (U+0078)");
    const FeedRestart n30{FeedRestart::By::Block, 30, {}}, n40{FeedRestart::By::Block, 40, {}};
    const FeedRestart line5{FeedRestart::By::Line, 5, "G21\r\nG90"};
    const struct
    {
        const char* source; // "file", "none", "folder", "file under a file": the snapshot folder
        QByteArray bytes;
        TapeCodeKind code;
        std::optional<FeedRestart> restart;
        std::optional<Kind> problem;
        RestartPoint point = {};
        QByteArray lead = {};
        TextPosition at = {};
        QString character = {};
    } rows[] = {
        {"file", kProgram, kIso, {}, {}},
        {"file", kProgram, kIso, n30, {}, {44, 6}, "%\nO1000\nG90 G54\n"},
        {"file", kProgram, kIso, line5, {}, {32, 5}, "%\nG21\nG90\n"},
        {"file", kProgram, kIso, n40, Kind::Restart},
        {"file", cjk, kIso, {}, Kind::RefusedCharacter, {}, {}, {2, 5, 11}, cjkText},
        {"file", lower, kEia, {}, Kind::RefusedCharacter, {}, {}, {1, 4, 3}, lowerText},
        {"file", "", kIso, {}, Kind::Empty},
        {"none", "", kIso, {}, Kind::Missing},
        {"folder", "", kIso, {}, Kind::NotRegular},
        {"file under a file", kProgram, kIso, {}, Kind::FolderUnwritable},
    };
    const QTemporaryDir dir;
    int n = 0;
    for (const auto& row : rows) {
        for (const qsizetype blockBytes : {qsizetype(3), FeedSnapshotCopy::kBlockBytes}) {
            SCOPED_TRACE("row " + std::to_string(n / 2) + " in blocks of " +
                         std::to_string(blockBytes));
            const QString path = dir.filePath(QStringLiteral("program%1.nc").arg(++n));
            const QString base = dir.filePath(QStringLiteral("feeds%1").arg(n));
            const QString folder = base + QStringLiteral("/deep");
            if (qstrcmp(row.source, "folder") == 0)
                QDir().mkpath(path);
            else if (qstrcmp(row.source, "none") != 0)
                Write(path, row.bytes);
            if (qstrcmp(row.source, "file under a file") == 0)
                Write(base, "x");
            Rig rig(blockBytes);
            ASSERT_TRUE(rig.Run(Request(path, folder, row.code, row.restart)));
            if (row.problem) {
                ASSERT_TRUE(rig.problem);
                EXPECT_EQ(rig.problem->kind, *row.problem);
                EXPECT_FALSE(rig.problem->reasonEn.isEmpty() || rig.problem->reasonZh.isEmpty());
                EXPECT_EQ(rig.problem->at, row.at);
                EXPECT_EQ(rig.problem->character, row.character);
                EXPECT_EQ(rig.problem->restart.has_value(), row.problem == Kind::Restart);
                EXPECT_TRUE(ListFolder(folder).isEmpty());
                continue;
            }
            ASSERT_TRUE(rig.result);
            const FeedSnapshotResult& result = *rig.result;
            EXPECT_EQ(Read(result.snapshotPath), row.bytes);
            EXPECT_EQ(result.bytes, row.bytes.size());
            EXPECT_EQ(rig.lastDone, row.bytes.size());
            EXPECT_EQ(result.sha256, Sha256(row.bytes));
            EXPECT_EQ(result.identity, SendSource::Identify(path));
            EXPECT_EQ(result.lines, 8);
            EXPECT_EQ(result.restart.value_or(RestartPoint{}), row.point);
            EXPECT_EQ(result.lead, row.lead);
            EXPECT_EQ(StatPath(result.snapshotPath).mode, 0600u);
            EXPECT_EQ(StatPath(base).mode, 0700u);
            EXPECT_EQ(StatPath(folder).mode, 0700u);
            EXPECT_TRUE(rig.snapshot.Remove());
            EXPECT_FALSE(PathExists(result.snapshotPath));
        }
    }
}

// The program is saved over between the first and the second block of the
// attempts that `saves` counts, each save with a length of its own: the copy
// is one version whole, the one the path names at its end, or none at all.
// A clone is the file as it was at the start, whatever follows.
TEST(FeedSnapshot, FileSavedOverDuringTheCopy)
{
    const struct
    {
        int saves;
        bool byRename;
    } rows[] = {{1, false}, {1, true}, {FeedSnapshotCopy::kAttempts, false}};
    const QTemporaryDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.saves) + (row.byRename ? " by rename" : " in place"));
        const QString path = dir.filePath(QStringLiteral("program.nc"));
        const QByteArray first = kLine.repeated(400);
        Write(path, first);
        QByteArray current = first;
        Rig rig(256, [&](int attempt, qint64 done) {
            if (attempt > row.saves || done != 256)
                return;
            current = QByteArray("N20 G1 Y2.\n").repeated(300 + attempt * 50);
            Write(row.byRename ? path + ".new" : path, current);
            if (row.byRename)
                RenamePath(path + ".new", path, true, nullptr);
        });
        const QString folder = dir.filePath(QStringLiteral("feeds%1").arg(&row - rows));
        ASSERT_TRUE(rig.Run(Request(path, folder)));
        if (row.saves == FeedSnapshotCopy::kAttempts && !(rig.result && rig.result->cloned)) {
            ASSERT_TRUE(rig.problem);
            EXPECT_EQ(rig.problem->kind, Kind::Changed);
            EXPECT_TRUE(ListFolder(folder).isEmpty());
            continue;
        }
        ASSERT_TRUE(rig.result);
        const QByteArray expected = rig.result->cloned ? first : current;
        EXPECT_EQ(Read(rig.result->snapshotPath), expected);
        EXPECT_EQ(rig.result->sha256, Sha256(expected));
        EXPECT_TRUE(rig.result->cloned || rig.result->identity == SendSource::Identify(path));
    }
}

// Stopped while the copy waits between two blocks: no snapshot is left, and
// after Cancel only the Cancelled notice comes.
TEST(FeedSnapshot, CancelOrDestructionMidCopyLeavesNothing)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("program.nc"));
    Write(path, kLine.repeated(40000));
    const QString folder = dir.filePath(QStringLiteral("feeds"));
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "cancelled");
        std::atomic<bool> reached{false}, release{false};
        auto rig = std::make_unique<Rig>(4096, [&](int, qint64) {
            reached = true;
            const QDeadlineTimer deadline(10000);
            while (!release && !deadline.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_TRUE(rig->snapshot.Start(Request(path, folder)));
        ASSERT_TRUE(WaitFor([&] { return reached.load(); }));
        EXPECT_EQ(ListFolder(folder).size(), 1);
        if (destroy) {
            release = true;
            rig.reset();
        } else {
            rig->snapshot.Cancel();
            rig->lastDone = -1;
            release = true;
            ASSERT_TRUE(rig->End());
            EXPECT_TRUE(rig->cancelled && !rig->result && !rig->problem && rig->lastDone < 0);
        }
        EXPECT_TRUE(ListFolder(folder).isEmpty());
    }
}

// The copy waits at each of its first blocks for a 1 ms timer of the owner's
// thread to fire: it can only while that thread's event loop turns.
TEST(FeedSnapshot, EventLoopTurnsDuringTheCopy)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("program.nc"));
    Write(path, kLine.repeated(10000));
    std::atomic<int> ticks{0};
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(1);
    constexpr int kWatchedBlocks = 10;
    int seen = 0, last = 0;
    Rig rig(4096, [&](int, qint64 done) {
        const QDeadlineTimer deadline(2000);
        while (done <= kWatchedBlocks * 4096 && ticks <= last && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        seen += done <= kWatchedBlocks * 4096 && ticks > last;
        last = ticks;
    });
    ASSERT_TRUE(rig.Run(Request(path, dir.filePath(QStringLiteral("feeds")))));
    ASSERT_TRUE(rig.result);
    EXPECT_EQ(seen, kWatchedBlocks);
}
