// SPDX-License-Identifier: GPL-3.0-or-later
// The fault matrix of test_fault_matrix.cpp for tapeway-cli: the built
// program on end A of the paced null-modem, the simulated controller on end
// B. Every row is checked the same way: the exit status and the result line,
// a program that still reacts (it ends by itself, or at once on a signal), an
// existing target unchanged, no staging file, no new file under a name that
// did not exist, and a clean transfer on the same port afterwards. Rows that
// end by the link watchdog (10 s in the program) are kept to a few; the
// session matrix has the rest.
#include "support/CliProcess.h"
#include "support/FaultTools.h"
#include "transfer/SimulatedController.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace tapeway;
using namespace faults;

namespace {

const QString kReceived = QStringLiteral("All data has been received!");
const QString kDataError = QStringLiteral("Received data error!");
const QString kLinkBroken = QStringLiteral("communicate break down!");
const QString kCannotOpen = QStringLiteral("Cannot open file.");
const QString kCannotSave = QStringLiteral("Can't write data to the file!");
const QString kComplete = QStringLiteral("Complete");
const QString kFailed = QStringLiteral("Failed");
const QByteArray kOldContent = "O0001 (the program on disk)\nM30\n";

const QString kCancelled = QStringLiteral("Cancelled");
constexpr int kExitDone = 0, kExitFailed = 1, kExitLocalFile = 4, kExitCancelled = 130;

struct Rig
{
    std::unique_ptr<VirtualNullModem> modem;
    std::unique_ptr<SimulatedController> controller;
    QTemporaryDir dir;
    QTemporaryDir farDir;
    QString stem;
    QString target;
    QString source;
    QByteArray data;
    CliProcess cli;
    int limitBytes = 0; // RLIMIT_FSIZE of the program, 0 for none

    explicit Rig(const QString& rowName)
    {
        StartModem();
        controller = std::make_unique<SimulatedController>(modem->PortB());
        stem = QStringLiteral("twcfm%1_%2").arg(QCoreApplication::applicationPid()).arg(rowName);
        target = Path(stem + QStringLiteral(".nc"));
    }

    ~Rig()
    {
        controller.reset();
        modem->Stop();
    }

    void StartModem()
    {
        modem = std::make_unique<VirtualNullModem>();
        modem->SetPaced(true);
        if (!modem->Start())
            qFatal("null-modem: %s", qPrintable(modem->LastError()));
    }

    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    void Run(const QStringList& args)
    {
        if (limitBytes > 0) {
            const rlim_t bytes = rlim_t(limitBytes);
            cli.process.setChildProcessModifier([bytes] {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit limit{};
                getrlimit(RLIMIT_FSIZE, &limit);
                limit.rlim_cur = bytes;
                setrlimit(RLIMIT_FSIZE, &limit);
            });
        }
        cli.Start(args);
    }

    // Progress on stderr shows the data flowing.
    bool DataFlows()
    {
        return WaitFor(
            [&] {
                cli.Collect();
                static const QRegularExpression kSomeProgress(
                    QStringLiteral("\\b([1-9]\\d?|100)%"));
                return kSomeProgress.match(cli.err).hasMatch();
            },
            20000);
    }
};

struct Row
{
    const char* name;
    bool send = false;
    bool existing = true;
    int baud = 38400;
    int size = 2500;
    ControllerFaults faults = {};
    std::function<void(Rig&)> arrange = {};
    std::function<void(Rig&)> during = {}; // after the start; may signal the program
    int exitCode = kExitDone;
    QString outcome = {}; // the result line's outcome, empty for none
    bool saved = false;
    bool removesTargetDir = false;
};

ControllerFaults Drop(qint64 at)
{
    ControllerFaults faults;
    faults.dropByteAt = at;
    return faults;
}

ControllerFaults Flip(qint64 at)
{
    ControllerFaults faults;
    faults.flipByteAt = at;
    return faults;
}

ControllerFaults SilentAfter(qint64 at)
{
    ControllerFaults faults;
    faults.silentAfter = at;
    return faults;
}

// The controller's bytes for 2500 bytes of data: header 0-16, packets from
// 17, 1042 and 2067, the checksum at 2520-2523.
constexpr qint64 kInHeader = 12, kInMiddlePacket = 1500, kInChecksum = 2522, kAllBytes = 2524;

// Signals the program once the row's phase is reached; it must end at once.
std::function<void(Rig&)> SignalWhen(std::function<bool(Rig&)> reached, int signalNumber,
                                     int settleMs = 100)
{
    return [=](Rig& rig) {
        ASSERT_TRUE(WaitFor([&] { return reached(rig); }, 20000));
        RunEventLoopFor(settleMs);
        ASSERT_EQ(rig.cli.process.state(), QProcess::Running) << "ended before the signal";
        ASSERT_TRUE(rig.cli.Signal(signalNumber));
        ASSERT_TRUE(rig.cli.Wait(3000)) << "no reaction to the signal";
    };
}

bool Waiting(Rig& rig)
{
    return rig.cli.WaitForText(QStringLiteral("Waiting"), 100);
}

bool Flowing(Rig& rig)
{
    return rig.DataFlows();
}

std::vector<Row> Rows()
{
    std::vector<Row> rows;
    auto add = [&](Row row) { rows.push_back(std::move(row)); };

    // Receive: line faults.
    add({.name = "ReceiveDropInHeader",
         .faults = Drop(kInHeader),
         .exitCode = kExitFailed,
         .outcome = kLinkBroken});
    add({.name = "ReceiveDropInMiddlePacket",
         .faults = Drop(kInMiddlePacket),
         .exitCode = kExitFailed,
         .outcome = kLinkBroken});
    add({.name = "ReceiveFlipInHeader",
         .faults = Flip(kInHeader),
         .exitCode = kExitFailed,
         .outcome = kDataError});
    add({.name = "ReceiveFlipInMiddlePacket",
         .faults = Flip(kInMiddlePacket),
         .exitCode = kExitFailed,
         .outcome = kDataError});
    add({.name = "ReceiveFlipInChecksumNewTarget",
         .existing = false,
         .faults = Flip(kInChecksum),
         .exitCode = kExitFailed,
         .outcome = kDataError});
    add({.name = "ReceiveSilentAfterLastPacket",
         .faults = SilentAfter(kAllBytes),
         .outcome = kReceived,
         .saved = true});
    add({.name = "ReceiveHangUpMidFile",
         .baud = 9600,
         .size = 6000,
         .during =
             [](Rig& rig) {
                 ASSERT_TRUE(rig.DataFlows());
                 rig.modem->HangUp();
                 ASSERT_TRUE(rig.cli.Wait(5000)); // well before the watchdog
             },
         .exitCode = kExitFailed,
         .outcome = kLinkBroken});
    // Receive: local faults.
    add({.name = "ReceiveParentIsAFile",
         .existing = false,
         .arrange =
             [](Rig& rig) {
                 ASSERT_TRUE(Write(rig.Path("plain"), "not a folder"));
                 rig.target = rig.Path("plain/part.nc");
             },
         .exitCode = kExitLocalFile,
         .outcome = kCannotOpen});
    add({.name = "ReceiveFolderRemovedDuring",
         .existing = false,
         .baud = 9600,
         .size = 6000,
         .arrange =
             [](Rig& rig) {
                 ASSERT_TRUE(QDir(rig.dir.path()).mkdir("gone"));
                 rig.target = rig.Path("gone/part.nc");
             },
         .during =
             [](Rig& rig) {
                 ASSERT_TRUE(rig.DataFlows());
                 ASSERT_TRUE(QDir(rig.Path("gone")).removeRecursively());
                 ASSERT_TRUE(rig.cli.Wait(30000));
                 // The verified data is kept, and stderr says where.
                 rig.cli.Collect();
                 const QString kept =
                     rig.cli.err.section(QStringLiteral("The data was kept in: "), 1)
                         .section(u'\n', 0, 0);
                 EXPECT_EQ(Read(kept), rig.data) << rig.cli.err.toStdString();
             },
         .exitCode = kExitLocalFile,
         .outcome = kCannotSave,
         .removesTargetDir = true});
    for (bool existing : {true, false}) {
        add({.name = existing ? "ReceiveDiskFullExisting" : "ReceiveDiskFullNewTarget",
             .existing = existing,
             .arrange = [](Rig& rig) { rig.limitBytes = 1000; },
             .exitCode = kExitLocalFile,
             .outcome = kCannotSave});
    }
    // Receive: Ctrl-C (Cancel) in each phase, and SIGTERM.
    add({.name = "ReceiveInterruptWaitingForHeader",
         .faults = SilentAfter(0),
         .during = SignalWhen(Waiting, SIGINT, 500),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    add({.name = "ReceiveInterruptInsideHeader",
         .faults = Drop(kInHeader),
         .during = SignalWhen([](Rig& rig) { return rig.controller->BytesSent() >= 17; }, SIGINT),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    add({.name = "ReceiveInterruptWaitingForData",
         .faults =
             [] {
                 ControllerFaults faults;
                 faults.ignoreDC4 = true;
                 return faults;
             }(),
         .during = SignalWhen(
             [](Rig& rig) { return rig.modem->SpeedOf(VirtualNullModem::AToB) == 38400; }, SIGINT),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    add({.name = "ReceiveInterruptMidFileNewTarget",
         .existing = false,
         .baud = 9600,
         .size = 6000,
         .during = SignalWhen(Flowing, SIGINT, 0),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    add({.name = "ReceiveTerminateMidFile",
         .baud = 9600,
         .size = 6000,
         .during = SignalWhen(Flowing, SIGTERM, 0),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});

    // Send.
    add({.name = "SendControllerDC4Lost",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x14, 1, false)); },
         .exitCode = kExitFailed,
         .outcome = kFailed});
    add({.name = "SendControllerSilentAfterLastPacket",
         .send = true,
         .arrange =
             [](Rig& rig) {
                 rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x12, 3, true, 0x14));
             },
         .outcome = kComplete});
    add({.name = "SendHangUpMidFile",
         .send = true,
         .baud = 9600,
         .size = 6000,
         .during =
             [](Rig& rig) {
                 ASSERT_TRUE(rig.DataFlows());
                 rig.modem->HangUp();
                 ASSERT_TRUE(rig.cli.Wait(5000));
             },
         .exitCode = kExitFailed,
         .outcome = kFailed});
    add({.name = "SendInterruptWaitingForRequest",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x12, 1, true)); },
         .during = SignalWhen([](Rig&) { return true; }, SIGINT, 1500),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    add({.name = "SendInterruptAfterHeader",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x14, 1, true)); },
         .during = SignalWhen(
             [](Rig& rig) { return rig.modem->BytesForwarded(VirtualNullModem::AToB) >= 17; },
             SIGINT),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    add({.name = "SendInterruptMidFile",
         .send = true,
         .baud = 9600,
         .size = 6000,
         .during = SignalWhen(Flowing, SIGINT, 0),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    add({.name = "SendTerminateMidFile",
         .send = true,
         .baud = 9600,
         .size = 6000,
         .during = SignalWhen(Flowing, SIGTERM, 0),
         .exitCode = kExitCancelled,
         .outcome = kCancelled});
    return rows;
}

// The next run on the same port (a new modem after a hang-up) succeeds.
void ExpectCleanTransfer(Rig& rig, bool send)
{
    rig.controller.reset();
    if (rig.modem->IsRunning()) {
        // Bytes the controller had on the wire still arrive; start once the line is quiet.
        ASSERT_TRUE(WaitForQuietLine(*rig.modem));
        rig.modem->SetTap(VirtualNullModem::AToB, {});
        rig.modem->SetTap(VirtualNullModem::BToA, {});
    } else {
        rig.StartModem();
    }
    rig.controller = std::make_unique<SimulatedController>(rig.modem->PortB());
    const QByteArray data = Pattern(1500, 4242);
    CliProcess clean;
    if (!send) {
        const QString target = rig.Path("clean-after.nc");
        ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{data}, 38400));
        clean.Start({"receive", "--port", rig.modem->PortA(), target});
        ASSERT_TRUE(clean.Wait(30000));
        EXPECT_EQ(clean.ExitCode(), kExitDone) << clean.err.toStdString();
        EXPECT_EQ(Read(target), data);
        QFile::remove(target);
    } else {
        QList<QByteArray> received;
        QObject::connect(rig.controller.get(), &SimulatedController::FileReceived,
                         [&](const QString&, const QByteArray& bytes) { received << bytes; });
        ASSERT_TRUE(rig.controller->ReceiveFiles(QDir(rig.farDir.path()).filePath("clean"), 1));
        ASSERT_TRUE(Write(rig.source, data));
        clean.Start({"send", "--port", rig.modem->PortA(), "--baud", "38400", rig.source});
        ASSERT_TRUE(clean.Wait(30000));
        EXPECT_EQ(clean.ExitCode(), kExitDone) << clean.err.toStdString();
        ASSERT_TRUE(WaitFor([&] { return received.size() == 1; }, 5000));
        EXPECT_EQ(received.first(), data);
    }
}

class CliFaultMatrix : public testing::TestWithParam<Row>
{
};

TEST_P(CliFaultMatrix, EndsCleanly)
{
    const Row& row = GetParam();
    Rig rig(QString::fromLatin1(row.name));
    rig.data = Pattern(row.size, row.size + 3);
    if (row.send) {
        rig.source = rig.Path(QStringLiteral("source.nc"));
        ASSERT_TRUE(Write(rig.source, rig.data));
        ASSERT_TRUE(rig.controller->ReceiveFiles(rig.farDir.path(), 1));
    } else {
        rig.controller->SetFaults(row.faults);
        ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{rig.data}, row.baud));
    }
    if (row.existing && !row.send) {
        ASSERT_TRUE(Write(rig.target, kOldContent));
    }
    if (row.arrange)
        row.arrange(rig);
    if (testing::Test::HasFatalFailure())
        return;
    const QString targetDir = QFileInfo(rig.target).absolutePath();
    const QStringList before = Listing(rig.dir.path());

    const QString path = row.send ? rig.source : rig.target;
    if (row.send)
        rig.Run({"send", "--port", rig.modem->PortA(), "--baud", QString::number(row.baud),
                 rig.source});
    else
        rig.Run({"receive", "--port", rig.modem->PortA(), "--overwrite", rig.target});
    if (row.during)
        row.during(rig);
    else
        ASSERT_TRUE(rig.cli.Wait(30000)) << "still running";
    if (testing::Test::HasFatalFailure())
        return;
    rig.cli.Collect();

    // The outcome.
    EXPECT_EQ(rig.cli.ExitCode(), row.exitCode) << rig.cli.err.toStdString();
    const QStringList expectedLines =
        row.outcome.isEmpty() ? QStringList() : QStringList{row.outcome + u'\t' + path};
    EXPECT_EQ(rig.cli.OutLines(), expectedLines) << rig.cli.err.toStdString();

    // The files.
    EXPECT_EQ(StagingFiles(rig.stem), QStringList());
    if (row.send)
        EXPECT_EQ(Read(rig.source), rig.data);
    else if (row.saved)
        EXPECT_EQ(Read(rig.target), rig.data);
    else if (row.existing)
        EXPECT_EQ(Read(rig.target), kOldContent);
    else
        EXPECT_FALSE(QFileInfo::exists(rig.target));
    QStringList expected = before;
    if (row.removesTargetDir)
        expected.removeIf([](const QString& entry) { return entry.startsWith("gone"); });
    if (row.saved) {
        const QString name = QDir(rig.dir.path()).relativeFilePath(rig.target);
        expected.removeIf([&](const QString& entry) { return entry.startsWith(name + u' '); });
        expected << name + QStringLiteral(" %1").arg(row.size);
        expected.sort();
    }
    EXPECT_EQ(Listing(rig.dir.path()), expected);
    if (row.removesTargetDir) {
        EXPECT_FALSE(QFileInfo::exists(targetDir));
    }

    ExpectCleanTransfer(rig, row.send);
}

INSTANTIATE_TEST_SUITE_P(Rows, CliFaultMatrix, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
