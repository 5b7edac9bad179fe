// SPDX-License-Identifier: GPL-3.0-or-later
// Faults end to end over the paced null-modem, one row each, and the same
// checks after every row: the right message or row state, an event loop that
// still turns, an existing target unchanged, no staging file, no new file
// under a name that did not exist, and a clean transfer on the same port
// object afterwards.
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "settings/PathHistory.h"
#include "settings/SettingsStore.h"
#include "support/FaultTools.h"
#include "support/RecordingHost.h"
#include "support/WaitFor.h"
#include "transfer/SimulatedController.h"
#include "transfer/TransferSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

// Readable failure output for the Qt types compared below.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << bytes.size() << " bytes: " << bytes.left(48).toHex(' ').toStdString();
}

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
const QByteArray kOldContent = "O0001 (the program on disk)\nG00 X0 Z0\nM30\n";
const char* const kWriterVariable = "TAPEWAY_MATRIX_WRITER";
constexpr int kWriterKeys = 150;

// The receive paths remembered through a settings file, as the dialog does.
class SettingsHost : public RecordingHost
{
public:
    std::unique_ptr<SettingsStore> store;

    void RememberPath(const QString& path) override
    {
        RecordingHost::RememberPath(path);
        if (store)
            tapeway::RememberPath(*store, path, 0);
    }
};

struct Rig
{
    std::unique_ptr<VirtualNullModem> modem;
    SettingsHost host;
    SerialPort port;
    TransferSession session{port, host};
    std::unique_ptr<SimulatedController> controller;
    QTemporaryDir dir;    // the operator's files
    QTemporaryDir farDir; // what the controller stores
    QString stem;         // of the target, unique per row (staging names derive from it)
    QString target;       // receive: where the file goes
    QString source;       // send: the file sent
    QByteArray data;      // what the controller or the session sends
    std::unique_ptr<QProcess> writer;
    std::unique_ptr<FileSizeLimit> sizeLimit;
    std::shared_ptr<std::atomic<bool>> noiseSent;

    explicit Rig(const QString& rowName)
    {
        StartModem();
        host.link.portName = modem->PortA();
        host.language = kEnglish;
        QObject::connect(&port, &SerialPort::OnComm, &session, &TransferSession::OnComm);
        TransferSession::Timings timings;
        timings.headerRequestMs = 200;
        timings.watchdogMs = 5000; // well above a full packet's wire time at 9600 baud
        session.SetTimings(timings);
        controller = std::make_unique<SimulatedController>(modem->PortB());
        stem = QStringLiteral("twfm%1_%2").arg(QCoreApplication::applicationPid()).arg(rowName);
        target = Path(stem + QStringLiteral(".nc"));
    }

    ~Rig()
    {
        if (writer) {
            writer->kill();
            writer->waitForFinished(5000);
        }
        controller.reset();
        session.CancelTransfer();
        port.SetPortOpen(false);
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
};

struct Row
{
    const char* name;
    bool send = false;            // our session sends (the controller receives)
    bool existing = true;         // receive: the target exists already (and may be replaced)
    int baud = 38400;             // the data speed
    int size = 2500;              // three packets: 1024, 1024, 452 and the checksum
    ControllerFaults faults = {}; // receive rows: what the sending controller does wrong
    std::function<void(Rig&)> arrange = {}; // before Start
    std::function<void(Rig&)> during = {};  // after Start, until the session is over
    QStringList messages = {};              // what the operator is shown
    QString rowState = {};                  // send rows: the row's last state
    bool saved = false;                     // receive: the new data is under the target's name
    bool closing = false; // Exit / close box: the dialog goes away, controls stay as they are
    bool removesTargetDir = false;
    std::function<void(Rig&)> verify = {}; // further checks of the row
};

void WaitUntilOver(Rig& rig)
{
    ASSERT_TRUE(WaitFor([&] { return !rig.session.IsActive(); }, 30000));
}

// The session waits where the row put it; after a while Cancel is pressed.
std::function<void(Rig&)> CancelWhen(std::function<bool(Rig&)> reached, int settleMs = 100)
{
    return [=](Rig& rig) {
        ASSERT_TRUE(WaitFor([&] { return reached(rig); }, 20000));
        RunEventLoopFor(settleMs);
        ASSERT_TRUE(rig.session.IsActive()) << "the session ended before Cancel";
        rig.session.CancelTransfer();
    };
}

std::function<void(Rig&)> CloseDownWhen(std::function<bool(Rig&)> reached)
{
    return [=](Rig& rig) {
        ASSERT_TRUE(WaitFor([&] { return reached(rig); }, 20000));
        ASSERT_TRUE(rig.session.IsActive());
        rig.session.CloseDownTransfer();
    };
}

bool DataFlows(Rig& rig)
{
    return rig.host.receiveMode ? !rig.host.positions.isEmpty() && rig.host.positions.last() > 0
                                : rig.host.rows[0].state.endsWith(u'%');
}

bool Waits(Rig&)
{
    return true;
}

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

// Offsets of the bytes a controller sends for 2500 bytes: the header at 0-16,
// packet 1's DC1 at 17, packet 2's at 1042, packet 3's at 2067, its data to
// 2519 and the checksum at 2520-2523.
constexpr qint64 kInHeader = 12, kInMiddlePacket = 1500, kInChecksum = 2522, kAllBytes = 2524;

// A settings file of 3000 bytes.
QByteArray SettingsText()
{
    QByteArray text = "[BAUD]\nvalue=19200\n[COM]\nvalue=3\n";
    while (text.size() < 3000)
        text += "; kept as it is\n";
    return text.left(2999) + "\n";
}

std::vector<Row> Rows()
{
    std::vector<Row> rows;
    auto add = [&](Row row) { rows.push_back(std::move(row)); };

    // ------------------------------------------------ receive: line faults
    add({.name = "ReceiveDropInHeader", .faults = Drop(kInHeader), .messages = {kLinkBroken}});
    add({.name = "ReceiveDropInMiddlePacket",
         .faults = Drop(kInMiddlePacket),
         .messages = {kLinkBroken}});
    add({.name = "ReceiveDropInChecksum", .faults = Drop(kInChecksum), .messages = {kLinkBroken}});
    add({.name = "ReceiveDropInHeaderNewTarget",
         .existing = false,
         .faults = Drop(kInHeader),
         .messages = {kLinkBroken}});
    add({.name = "ReceiveFlipInHeader", .faults = Flip(kInHeader), .messages = {kDataError}});
    add({.name = "ReceiveFlipInMiddlePacket",
         .faults = Flip(kInMiddlePacket),
         .messages = {kDataError}});
    add({.name = "ReceiveFlipInChecksum", .faults = Flip(kInChecksum), .messages = {kDataError}});
    add({.name = "ReceiveFlipInChecksumNewTarget",
         .existing = false,
         .faults = Flip(kInChecksum),
         .messages = {kDataError}});
    add({.name = "ReceiveDC4Lost",
         .arrange =
             [](Rig& rig) {
                 rig.modem->SetTap(VirtualNullModem::AToB, DropTap(quint8(kDC4), 1, false));
             },
         .messages = {kLinkBroken}});
    add({.name = "ReceiveSilentBeforeHeader", .faults = SilentAfter(0), .during = [](Rig& rig) {
             RunEventLoopFor(6000); // longer than the watchdog: nothing may end it
             ASSERT_TRUE(rig.session.IsActive());
             rig.session.CancelTransfer();
         }});
    add({.name = "ReceiveSilentMidFile",
         .faults = SilentAfter(kInMiddlePacket),
         .messages = {kLinkBroken}});
    add({.name = "ReceiveSilentAfterLastPacket",
         .faults = SilentAfter(kAllBytes),
         .messages = {kReceived},
         .saved = true});
    add({.name = "ReceiveHangUpMidFile",
         .baud = 9600,
         .size = 6000,
         .during =
             [](Rig& rig) {
                 ASSERT_TRUE(WaitFor([&] { return DataFlows(rig); }, 20000));
                 rig.modem->HangUp();
                 WaitUntilOver(rig);
             },
         .messages = {kLinkBroken}});
    add({.name = "ReceiveSpeedMismatch",
         .faults =
             [] {
                 ControllerFaults faults;
                 faults.ignoreDC4 = true;
                 return faults;
             }(),
         .messages = {kLinkBroken}});

    // ---------------------------------------------- receive: local faults
    add({.name = "ReceiveParentIsAFile",
         .existing = false,
         .arrange =
             [](Rig& rig) {
                 ASSERT_TRUE(Write(rig.Path("plain"), "not a folder"));
                 rig.target = rig.Path("plain/part.nc");
             },
         .messages = {kCannotOpen}});
    // What can be checked at Start is refused there, before the line is used.
    add({.name = "ReceiveFolderNotWritable",
         .arrange =
             [](Rig& rig) {
                 if (geteuid() == 0)
                     GTEST_SKIP() << "root writes into folders without write permission";
                 QFile::setPermissions(rig.dir.path(), QFile::ReadOwner | QFile::ExeOwner);
             },
         .messages = {kCannotOpen},
         .verify =
             [](Rig& rig) {
                 QFile::setPermissions(rig.dir.path(),
                                       QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
             }});
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
                 ASSERT_TRUE(WaitFor([&] { return DataFlows(rig); }, 20000));
                 ASSERT_TRUE(QDir(rig.Path("gone")).removeRecursively());
                 WaitUntilOver(rig);
             },
         .messages = {kCannotSave},
         .removesTargetDir = true,
         .verify =
             [](Rig& rig) {
                 // The verified data is kept, and the message says where.
                 const QString detail = rig.host.messageDetails.value(0);
                 const QString kept = detail.section(QStringLiteral("The data was kept in: "), 1);
                 ASSERT_FALSE(kept.isEmpty()) << detail.toStdString();
                 EXPECT_TRUE(kept.contains(QStringLiteral("/tapeway/recovered/part.nc-")));
                 EXPECT_EQ(Read(kept), rig.data);
             }});
    add({.name = "ReceiveTargetIsAFolder",
         .existing = false,
         .arrange = [](Rig& rig) { ASSERT_TRUE(QDir(rig.dir.path()).mkdir(rig.stem + ".nc")); },
         .messages = {kCannotOpen}});
    // Names up to the file system's limit: 255 bytes, in ASCII and in Chinese.
    for (bool chinese : {false, true}) {
        add({.name = chinese ? "ReceiveLongChineseNameExisting" : "ReceiveLongName",
             .existing = chinese,
             .arrange =
                 [chinese](Rig& rig) {
                     rig.target = rig.Path(chinese ? QString(84, QChar(0x7a0b)) + ".nc"
                                                   : QString(252, u'n') + ".nc");
                     if (chinese) {
                         ASSERT_TRUE(Write(rig.target, kOldContent));
                     }
                 },
             .messages = {kReceived},
             .saved = true});
    }
    add({.name = "ReceiveTemporaryFolderRefuses",
         .arrange =
             [](Rig& rig) {
                 // The staging name cannot be made: the receive goes on all the same.
                 ASSERT_TRUE(Write(rig.Path("not-a-folder"), "x"));
                 qputenv("TMPDIR", QFile::encodeName(rig.Path("not-a-folder")));
             },
         .messages = {kReceived},
         .saved = true,
         .verify = [](Rig&) { qunsetenv("TMPDIR"); }});
    add({.name = "ReceiveUnsupportedSpeed",
         .baud = 12300,
         .messages = {kDataError},
         .verify = [](Rig& rig) {
             EXPECT_EQ(rig.host.messageDetails.value(0), "The controller announced 12300 baud.");
         }});
    add({.name = "ReceiveNoiseBeforeFirstPacket",
         .arrange =
             [](Rig& rig) {
                 // DC3 is lost until a noise byte came; the session must go on asking.
                 rig.noiseSent = std::make_shared<std::atomic<bool>>(false);
                 rig.modem->SetTap(VirtualNullModem::AToB,
                                   [sent = rig.noiseSent](quint8& byte, qint64) {
                                       return byte != quint8(kDC3) || *sent;
                                   });
             },
         .during =
             [](Rig& rig) {
                 ASSERT_TRUE(WaitFor([&] { return rig.host.announcedBaud != 0; }, 20000));
                 RunEventLoopFor(300);
                 QFile far(rig.modem->PortB());
                 ASSERT_TRUE(far.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
                 ASSERT_EQ(far.write("\x55", 1), 1);
                 RunEventLoopFor(200);
                 *rig.noiseSent = true;
                 WaitUntilOver(rig);
             },
         .messages = {kReceived},
         .saved = true});

    for (bool existing : {true, false}) {
        add({.name = existing ? "ReceiveDiskFullExisting" : "ReceiveDiskFullNewTarget",
             .existing = existing,
             .during =
                 [](Rig& rig) {
                     const FileSizeLimit limit(1000);
                     WaitUntilOver(rig);
                 },
             .messages = {kCannotSave}});
    }

    // ------------------------------------------- receive: the settings file
    const auto useSettings = [](Rig& rig) {
        rig.host.store = std::make_unique<SettingsStore>(rig.Path("cfg/RS232.ini"));
        QDir(rig.dir.path()).mkdir("cfg");
    };
    add({.name = "ReceiveSettingsUnreadable",
         .arrange =
             [=](Rig& rig) {
                 useSettings(rig);
                 QDir(rig.dir.path()).mkpath("cfg/RS232.ini"); // a folder where the file goes
             },
         .messages = {kReceived},
         .saved = true,
         .verify =
             [](Rig& rig) {
                 EXPECT_TRUE(QFileInfo(rig.Path("cfg/RS232.ini")).isDir());
                 EXPECT_TRUE(LoadPathHistory(*rig.host.store).entries.isEmpty());
             }});
    const QByteArray garbage = Pattern(300, 77).replace('\r', 'x') + "\n";
    add({.name = "ReceiveSettingsGarbage",
         .arrange =
             [=](Rig& rig) {
                 useSettings(rig);
                 ASSERT_TRUE(Write(rig.Path("cfg/RS232.ini"), garbage));
             },
         .messages = {kReceived},
         .saved = true,
         .verify =
             [=](Rig& rig) {
                 EXPECT_TRUE(Read(rig.Path("cfg/RS232.ini")).startsWith(garbage));
                 EXPECT_TRUE(LoadPathHistory(*rig.host.store).entries.contains(rig.target));
             }});
    add({.name = "ReceiveSettingsNotWritable",
         .arrange =
             [](Rig& rig) {
                 ASSERT_TRUE(Write(rig.Path("cfgfile"), "a file, not a folder"));
                 rig.host.store = std::make_unique<SettingsStore>(rig.Path("cfgfile/RS232.ini"));
             },
         .messages = {kReceived},
         .saved = true,
         .verify =
             [](Rig& rig) {
                 EXPECT_EQ(Read(rig.Path("cfgfile")), "a file, not a folder");
                 EXPECT_TRUE(LoadPathHistory(*rig.host.store).entries.isEmpty());
             }});
    add({.name = "ReceiveSettingsDiskFull",
         .size = 500,
         .arrange =
             [=](Rig& rig) {
                 useSettings(rig);
                 ASSERT_TRUE(Write(rig.Path("cfg/RS232.ini"), SettingsText()));
                 rig.sizeLimit = std::make_unique<FileSizeLimit>(1000); // the file is 3000 bytes
             },
         .messages = {kReceived},
         .saved = true,
         .verify =
             [](Rig& rig) {
                 rig.sizeLimit.reset();
                 EXPECT_EQ(Read(rig.Path("cfg/RS232.ini")), SettingsText());
             }});
    add({.name = "ReceiveSettingsTwoWriters",
         .arrange =
             [=](Rig& rig) {
                 useSettings(rig);
                 // A second copy of the program writes its own keys meanwhile.
                 rig.writer = std::make_unique<QProcess>();
                 QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                 env.insert(kWriterVariable, rig.Path("cfg/RS232.ini"));
                 rig.writer->setProcessEnvironment(env);
                 rig.writer->start(QCoreApplication::applicationFilePath(),
                                   {QStringLiteral("--gtest_filter=FaultMatrixWriter.*")});
                 ASSERT_TRUE(rig.writer->waitForStarted(10000));
                 ASSERT_TRUE(WaitFor(
                     [&] { return Read(rig.Path("cfg/RS232.ini")).contains("k1="); }, 20000));
             },
         .messages = {kReceived},
         .saved = true,
         .verify =
             [](Rig& rig) {
                 ASSERT_TRUE(rig.writer->state() == QProcess::NotRunning ||
                             rig.writer->waitForFinished(60000));
                 EXPECT_EQ(rig.writer->exitStatus(), QProcess::NormalExit);
                 EXPECT_EQ(rig.writer->exitCode(), 0) << rig.writer->readAll().toStdString();
                 const SettingsStore& store = *rig.host.store;
                 for (int i = 0; i < kWriterKeys; ++i)
                     EXPECT_EQ(store.ReadSettingString("OTHER", QStringLiteral("k%1").arg(i)),
                               QString::number(i));
                 EXPECT_TRUE(LoadPathHistory(store).entries.contains(rig.target));
             }});

    // ---------------------------------------- receive: Cancel in each phase
    add({.name = "ReceiveCancelWaitingForHeader",
         .faults = SilentAfter(0),
         .during = CancelWhen(Waits, 500)});
    add({.name = "ReceiveCancelInsideHeader",
         .faults = Drop(kInHeader),
         .during = CancelWhen([](Rig& rig) { return rig.controller->BytesSent() >= 17; })});
    add({.name = "ReceiveCancelWaitingForData",
         .faults =
             [] {
                 ControllerFaults faults;
                 faults.ignoreDC4 = true;
                 return faults;
             }(),
         .during = CancelWhen([](Rig& rig) { return rig.host.announcedBaud != 0; })});
    add({.name = "ReceiveCancelMidFile",
         .baud = 9600,
         .size = 6000,
         .during = CancelWhen(DataFlows, 0)});
    add({.name = "ReceiveCancelMidFileNewTarget",
         .existing = false,
         .baud = 9600,
         .size = 6000,
         .during = CancelWhen(DataFlows, 0)});
    add({.name = "ReceiveCloseDownMidFile",
         .baud = 9600,
         .size = 6000,
         .during = CloseDownWhen(DataFlows),
         .closing = true});
    add({.name = "ReceiveCloseDownMidFileNewTarget",
         .existing = false,
         .baud = 9600,
         .size = 6000,
         .during = CloseDownWhen(DataFlows),
         .closing = true});

    // --------------------------------------------------------------- send
    // What the controller sends back: DC2 for the header, DC4, DC3 (again
    // every 100 ms until data comes), then one DC2 after each packet.
    add({.name = "SendControllerSilentBeforeRequest",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x12, 1, true)); },
         .during =
             [](Rig& rig) {
                 RunEventLoopFor(6000);
                 ASSERT_TRUE(rig.session.IsActive());
                 rig.session.CancelTransfer();
             },
         .rowState = QString()});
    add({.name = "SendControllerDC4Lost",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x14, 1, false)); },
         .messages = {kLinkBroken},
         .rowState = kFailed});
    add({.name = "SendControllerSilentMidFile",
         .send = true,
         .arrange =
             [](Rig& rig) {
                 // No request for packet 3.
                 rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x12, 2, true, 0x14));
             },
         .messages = {kLinkBroken},
         .rowState = kFailed});
    add({.name = "SendControllerSilentAfterLastPacket",
         .send = true,
         .arrange =
             [](Rig& rig) {
                 // The DC2 that answers the last packet never comes.
                 rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x12, 3, true, 0x14));
             },
         .rowState = kComplete,
         .verify =
             [](Rig& rig) {
                 EXPECT_EQ(Read(QDir(rig.farDir.path()).filePath("O0001.nc")), rig.data);
             }});
    add({.name = "SendSlowLine1200",
         .send = true,
         .baud = 1200,
         .size = 1200, // a full packet takes 8.6 s, longer than the silence limit
         .rowState = kComplete});
    add({.name = "SendHangUpMidFile",
         .send = true,
         .baud = 9600,
         .size = 6000,
         .during =
             [](Rig& rig) {
                 ASSERT_TRUE(WaitFor([&] { return DataFlows(rig); }, 20000));
                 rig.modem->HangUp();
                 WaitUntilOver(rig);
             },
         .messages = {kLinkBroken},
         .rowState = kFailed});
    add({.name = "SendCancelWaitingForRequest",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x12, 1, true)); },
         .during = CancelWhen(Waits, 500),
         .rowState = QString()});
    add({.name = "SendCancelAfterHeader",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x14, 1, true)); },
         .during = CancelWhen(
             [](Rig& rig) { return rig.modem->BytesForwarded(VirtualNullModem::AToB) >= 17; }),
         .rowState = QString()});
    add({.name = "SendCancelAfterSpeedSwitch",
         .send = true,
         .arrange =
             [](Rig& rig) { rig.modem->SetTap(VirtualNullModem::BToA, DropTap(0x13, 1, true)); },
         .during = CancelWhen(
             [](Rig& rig) { return rig.modem->BytesDropped(VirtualNullModem::BToA) >= 1; }),
         .rowState = QString()});
    add({.name = "SendCancelMidFile",
         .send = true,
         .baud = 9600,
         .size = 6000,
         .during = CancelWhen(DataFlows, 0),
         .rowState = QString()});
    add({.name = "SendCancelWhileLastPacketLeaves",
         .send = true,
         .baud = 9600,
         .size = 2048, // the last packet takes about a second on the wire
         .during = CancelWhen([](Rig& rig) { return rig.host.rows[0].state == "100%"; }, 0),
         .rowState = QString()});
    add({.name = "SendCloseDownMidFile",
         .send = true,
         .baud = 9600,
         .size = 6000,
         .during = CloseDownWhen(DataFlows),
         .closing = true});
    return rows;
}

// The next transfer in the same direction on the same port object succeeds;
// after a hang-up the cable is plugged into a new modem.
void ExpectCleanTransfer(Rig& rig, bool send)
{
    rig.controller.reset();
    if (rig.modem->IsRunning()) {
        // What the other end had on the wire when the transfer ended still
        // arrives; the operator starts again once the line is quiet.
        ASSERT_TRUE(WaitForQuietLine(*rig.modem));
    } else {
        rig.StartModem();
        rig.host.link.portName = rig.modem->PortA();
    }
    rig.modem->SetTap(VirtualNullModem::AToB, {});
    rig.modem->SetTap(VirtualNullModem::BToA, {});
    rig.controller = std::make_unique<SimulatedController>(rig.modem->PortB());
    rig.host.messages.clear();
    rig.host.continuous = false;
    const QByteArray data = Pattern(1500, 4242);
    if (!send) {
        const QString target = rig.Path("clean-after.nc");
        ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{data}, 38400));
        rig.host.target = target;
        rig.session.StartTransfer();
        ASSERT_TRUE(WaitFor([&] { return !rig.session.IsActive(); }, 30000));
        EXPECT_EQ(rig.host.messages, QStringList{kReceived});
        EXPECT_EQ(Read(target), data);
        QFile::remove(target);
    } else {
        QList<QByteArray> received;
        QObject::connect(rig.controller.get(), &SimulatedController::FileReceived,
                         [&](const QString&, const QByteArray& bytes) { received << bytes; });
        ASSERT_TRUE(rig.controller->ReceiveFiles(QDir(rig.farDir.path()).filePath("clean"), 1));
        ASSERT_TRUE(Write(rig.source, data));
        const int batches = rig.host.batchesEnded;
        rig.host.baudText = QStringLiteral("38400");
        rig.session.SetRowCursor(0);
        rig.session.StartTransfer();
        ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded > batches; }, 30000));
        EXPECT_EQ(rig.host.rows[0].state, kComplete);
        ASSERT_TRUE(WaitFor([&] { return received.size() == 1; }, 5000));
        EXPECT_EQ(received.first(), data);
    }
}

// What the line did, for a failure message: a byte garbled by a speed
// change points at the machine's load rather than at the row's fault.
std::string LineReport(Rig& rig)
{
    const VirtualNullModem& modem = *rig.modem;
    return QStringLiteral("line: session->controller %1 bytes (%2 garbled, %3 dropped), "
                          "controller->session %4 bytes (%5 garbled, %6 dropped)")
        .arg(modem.BytesForwarded(VirtualNullModem::AToB))
        .arg(modem.BytesGarbled(VirtualNullModem::AToB))
        .arg(modem.BytesDropped(VirtualNullModem::AToB))
        .arg(modem.BytesForwarded(VirtualNullModem::BToA))
        .arg(modem.BytesGarbled(VirtualNullModem::BToA))
        .arg(modem.BytesDropped(VirtualNullModem::BToA))
        .toStdString();
}

class FaultMatrix : public testing::TestWithParam<Row>
{
};

TEST_P(FaultMatrix, EndsCleanly)
{
    const Row& row = GetParam();
    Rig rig(QString::fromLatin1(row.name));
    rig.data = Pattern(row.size, row.size + 1);
    rig.host.receiveMode = !row.send;
    if (row.send) {
        rig.source = rig.Path(QStringLiteral("source.nc"));
        ASSERT_TRUE(Write(rig.source, rig.data));
        rig.host.rows = {{rig.source, true, QString()}};
        rig.host.baudText = QString::number(row.baud);
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
    if (testing::Test::IsSkipped() || testing::Test::HasFatalFailure())
        return;
    rig.host.target = rig.target;
    const QString targetDir = QFileInfo(rig.target).absolutePath();
    const QStringList before = Listing(rig.dir.path());

    rig.session.StartTransfer();
    if (row.during)
        row.during(rig);
    else
        WaitUntilOver(rig);
    if (testing::Test::HasFatalFailure())
        return;

    // The outcome the operator sees.
    EXPECT_FALSE(rig.session.IsActive());
    EXPECT_EQ(rig.host.messages, row.messages) << LineReport(rig);
    if (row.send && !row.closing) {
        EXPECT_EQ(rig.host.rows[0].state, row.rowState) << LineReport(rig);
    }
    if (!row.closing) {
        EXPECT_TRUE(rig.host.ControlsEnabled());
        EXPECT_EQ(rig.host.positions.value(rig.host.positions.size() - 1, 0), 0);
    }
    EXPECT_TRUE(EventLoopTurns());

    // The files.
    if (row.verify)
        row.verify(rig);
    RunEventLoopFor(50);
    EXPECT_EQ(StagingFiles(rig.stem), QStringList());
    if (!row.send) {
        if (row.saved)
            EXPECT_EQ(Read(rig.target), rig.data);
        else if (row.existing)
            EXPECT_EQ(Read(rig.target), kOldContent);
        else
            EXPECT_FALSE(QFileInfo(rig.target).isFile());
    } else {
        EXPECT_EQ(Read(rig.source), rig.data);
    }
    QStringList expected = before;
    if (row.removesTargetDir)
        expected.removeIf([](const QString& entry) { return entry.startsWith("gone/"); });
    if (row.saved && !row.existing) {
        expected << QDir(rig.dir.path()).relativeFilePath(rig.target) +
                        QStringLiteral(" %1").arg(row.size);
        expected.sort();
    }
    if (row.saved && row.existing)
        expected.replaceInStrings(
            QRegularExpression(QStringLiteral("^(%1) \\d+$")
                                   .arg(QRegularExpression::escape(
                                       QDir(rig.dir.path()).relativeFilePath(rig.target)))),
            QStringLiteral("\\1 %1").arg(row.size));
    QStringList after = Listing(rig.dir.path());
    after.removeIf([](const QString& entry) { return entry.startsWith("cfg"); });
    expected.removeIf([](const QString& entry) { return entry.startsWith("cfg"); });
    EXPECT_EQ(after, expected);
    if (row.removesTargetDir) {
        EXPECT_FALSE(QFileInfo::exists(targetDir));
    }

    // The port takes the next transfer.
    ExpectCleanTransfer(rig, row.send);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

// The second copy of the program of the row ReceiveSettingsTwoWriters: run by
// that row as a child process, skipped otherwise.
TEST(FaultMatrixWriter, WritesItsOwnKeys)
{
    const QString path = qEnvironmentVariable(kWriterVariable);
    if (path.isEmpty())
        GTEST_SKIP() << "started by the fault matrix only";
    SettingsStore store(path);
    for (int i = 0; i < kWriterKeys; ++i)
        ASSERT_TRUE(
            store.WriteSettingString("OTHER", QStringLiteral("k%1").arg(i), QString::number(i)));
}

} // namespace
