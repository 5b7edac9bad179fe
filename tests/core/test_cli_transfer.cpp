// SPDX-License-Identifier: GPL-3.0-or-later
// tapeway-cli end to end: the built program on one end of a paced virtual
// null-modem, the simulated controller (in this process, or as a second
// tapeway-cli) on the other.
#include "journal/SqlJournal.h"
#include "support/CliProcess.h"
#include "support/SessionRig.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace tapeway;

namespace {

const QString kComplete = QStringLiteral("Complete");
const QString kReceived = QStringLiteral("All data has been received!");
const QString kDataError = QStringLiteral("Received data error!");
const QString kLinkBroken = QStringLiteral("communicate break down!");

// A paced null-modem: the program under test on end A, the controller on B;
// a journal of its own.
struct Line
{
    VirtualNullModem modem;
    QTemporaryDir dir;

    Line()
    {
        modem.SetPaced(true);
        if (!modem.Start())
            qFatal("null-modem: %s", qPrintable(modem.LastError()));
    }
    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    QString JournalFile() const { return Path("journal/journal.sqlite"); }
    QStringList Journal() const { return {"--journal", "sqlite:" + JournalFile()}; }

    // The journal's records, oldest first.
    QList<TransferRecord> Records() const
    {
        SqlJournal journal(*JournalLocation::Parse("sqlite:" + JournalFile()));
        QString error;
        QList<TransferRecord> records = journal.Find({}, &error).value_or(QList<TransferRecord>());
        std::reverse(records.begin(), records.end());
        return records;
    }
};

// A file's record: direction, outcome, path and port; bytes and hash of the
// data when it arrived whole (none otherwise).
void ExpectRecord(const TransferRecord& r, bool receive, const QString& outcome,
                  const QString& path, const QByteArray& data, const QString& port)
{
    EXPECT_EQ(r.receive, receive) << path.toStdString();
    EXPECT_EQ(r.outcome, outcome) << path.toStdString();
    EXPECT_EQ(r.path, path);
    EXPECT_EQ(r.port, port);
    if (data.isEmpty()) {
        EXPECT_TRUE(r.sha256.isEmpty()) << path.toStdString();
    } else {
        EXPECT_EQ(r.sha256, QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(r.bytes, data.size());
    }
    EXPECT_TRUE(r.started.isValid() && r.started <= r.ended) << path.toStdString();
}

// tapeway-cli with arguments given as raw bytes: QProcess would pass them
// as UTF-8, so a shell's printf makes each one from octal escapes.
void StartWithBytes(CliProcess& cli, const QList<QByteArray>& args)
{
    QString script = QStringLiteral("exec \"$0\"");
    for (const QByteArray& arg : args) {
        QString octal;
        for (char c : arg)
            octal += QStringLiteral("\\%1").arg(uint(quint8(c)), 3, 8, QLatin1Char('0'));
        script += QStringLiteral(" \"$(printf '%1')\"").arg(octal);
    }
    cli.process.setProgram(QStringLiteral("/bin/sh"));
    cli.process.setArguments({QStringLiteral("-c"), script, QStringLiteral(TAPEWAY_CLI_PATH)});
    cli.process.start();
    cli.process.waitForStarted(10000);
}

// A file's content by the exact bytes of its name; null when there is none.
QByteArray ReadBytesName(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return {};
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    return file.readAll();
}

TEST(CliTransfer, NamesAreTheirBytesAndEachResultOneLine)
{
    // Names that are not UTF-8, or hold a tab, a newline or a backslash, are
    // sent, verified and received under exactly their bytes; each result
    // line holds one file, its name escaped.
    struct Case
    {
        QByteArray name;
        QString shown; // in the result line
    };
    const QList<Case> cases = {
        {"a\xff"
         "b.nc",
         "a\\xffb.nc"},
        {"tab\there.nc", "tab\\there.nc"},
        {"new\nline.nc", "new\\nline.nc"},
        {"back\\slash.nc", "back\\\\slash.nc"},
        {"\xe4\xb8\xad.nc", QStringLiteral("\u4e2d.nc")},
    };
    Line line;
    const QByteArray dir = QFile::encodeName(line.dir.path()) + '/';
    // Qt cannot remove what it cannot name: these go by their bytes.
    struct Cleanup
    {
        QList<QByteArray> paths;
        ~Cleanup()
        {
            for (const QByteArray& path : paths)
                ::unlink(path.constData());
        }
    } cleanup;
    SimulatedController controller(line.modem.PortB());
    QList<QByteArray> got;
    QObject::connect(&controller, &SimulatedController::FileReceived,
                     [&](const QString&, const QByteArray& data) { got << data; });
    QList<QByteArray> send = {"--journal",
                              QFile::encodeName("sqlite:" + line.JournalFile()),
                              "send",
                              "--port",
                              QFile::encodeName(line.modem.PortA()),
                              "--baud",
                              "38400"};
    QList<QByteArray> files, verify = send.mid(0, 2) + QList<QByteArray>{"verify"};
    QStringList sent, found;
    for (int i = 0; i < cases.size(); ++i) {
        files << SessionRig::Pattern(200 + i, i);
        const int fd = ::open((dir + cases[i].name).constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, files.last().constData(), size_t(files.last().size())),
                  files.last().size());
        ::close(fd);
        cleanup.paths << dir + cases[i].name;
        send << dir + cases[i].name;
        verify << dir + cases[i].name;
        sent << kComplete + '\t' + line.dir.path() + '/' + cases[i].shown;
        found << "found\t" + line.dir.path() + '/' + cases[i].shown;
    }
    ASSERT_TRUE(controller.ReceiveFiles(line.Path("ctl"), int(files.size())));
    CliProcess sender;
    StartWithBytes(sender, send);
    ASSERT_TRUE(sender.Wait(60000)) << sender.err.toStdString();
    EXPECT_EQ(sender.ExitCode(), 0) << sender.err.toStdString();
    EXPECT_EQ(sender.OutLines(), sent);
    ASSERT_TRUE(WaitFor([&] { return got.size() == files.size(); }, 5000));
    EXPECT_EQ(got, files);

    CliProcess verifier;
    StartWithBytes(verifier, verify);
    ASSERT_TRUE(verifier.Wait(30000));
    EXPECT_EQ(verifier.ExitCode(), 0) << verifier.err.toStdString();
    const QStringList lines = verifier.OutLines();
    ASSERT_EQ(lines.size(), cases.size()) << verifier.out.toStdString();
    for (int i = 0; i < cases.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(found[i] + '\t')) << lines[i].toStdString();

    const QByteArray target = "r\xfe\tx.nc";
    cleanup.paths << dir + target;
    const QByteArray data = SessionRig::Pattern(300, 9);
    ASSERT_TRUE(controller.SendFiles(QList<QByteArray>{data}, 19200));
    CliProcess receiver;
    StartWithBytes(receiver,
                   {"receive", "--port", QFile::encodeName(line.modem.PortA()), dir + target});
    ASSERT_TRUE(receiver.Wait(60000));
    EXPECT_EQ(receiver.ExitCode(), 0) << receiver.err.toStdString();
    EXPECT_EQ(ReadBytesName(dir + target), data);
    EXPECT_EQ(receiver.OutLines(),
              QStringList{kReceived + '\t' + line.dir.path() + "/r\\xfe\\tx.nc"});
}

TEST(CliTransfer, SendToTheControllerAtEachSpeed)
{
    struct Case
    {
        int baud;
        QList<int> sizes;
    };
    for (const Case& c : {Case{9600, {300}}, Case{19200, {1500}}, Case{38400, {3000, 1025}}}) {
        Line line;
        SimulatedController controller(line.modem.PortB());
        QList<QByteArray> got;
        QObject::connect(&controller, &SimulatedController::FileReceived,
                         [&](const QString&, const QByteArray& data) { got << data; });
        QStringList args = {"send", "--port", line.modem.PortA(), "--baud",
                            QString::number(c.baud)};
        QList<QByteArray> files;
        for (int i = 0; i < c.sizes.size(); ++i) {
            files << SessionRig::Pattern(c.sizes[i], c.baud + i);
            const QString path = line.Path(QStringLiteral("p%1.nc").arg(i));
            SessionRig::Write(path, files.last());
            args << path;
        }
        ASSERT_TRUE(controller.ReceiveFiles(line.Path("ctl"), int(files.size())));
        CliProcess cli(line.Journal() + args);
        ASSERT_TRUE(cli.Wait(60000)) << c.baud << cli.err.toStdString();
        EXPECT_EQ(cli.ExitCode(), 0) << cli.err.toStdString();
        ASSERT_TRUE(WaitFor([&] { return got.size() == files.size(); }, 5000));
        EXPECT_EQ(got, files) << c.baud;
        QStringList expected;
        for (int i = 0; i < files.size(); ++i)
            expected << kComplete + '\t' + args[5 + i];
        EXPECT_EQ(cli.OutLines(), expected);
        EXPECT_TRUE(cli.err.contains("100%")) << cli.err.toStdString();
        const QList<TransferRecord> records = line.Records();
        ASSERT_EQ(records.size(), files.size());
        for (int i = 0; i < files.size(); ++i) {
            ExpectRecord(records[i], false, "sent", args[5 + i], files[i], line.modem.PortA());
            EXPECT_EQ(records[i].baud, c.baud);
        }
    }
}

TEST(CliTransfer, ReceiveFromTheControllerAtEachSpeed)
{
    for (const auto& [baud, size] :
         {std::pair{9600, 400}, std::pair{19200, 2100}, std::pair{38400, 5000}}) {
        Line line;
        SimulatedController controller(line.modem.PortB());
        const QByteArray data = SessionRig::Pattern(size, baud);
        ASSERT_TRUE(controller.SendFiles(QList<QByteArray>{data}, baud));
        const QString target = line.Path("part.nc");
        CliProcess cli(QStringList{"receive", "--port", line.modem.PortA(), target} +
                       line.Journal());
        ASSERT_TRUE(cli.Wait(60000)) << baud;
        // What the line did, should the transfer fail.
        EXPECT_EQ(cli.ExitCode(), 0)
            << cli.err.toStdString() << " garbled to controller "
            << line.modem.BytesGarbled(VirtualNullModem::AToB) << ", to us "
            << line.modem.BytesGarbled(VirtualNullModem::BToA) << "; dropped "
            << line.modem.BytesDropped(VirtualNullModem::AToB) << "/"
            << line.modem.BytesDropped(VirtualNullModem::BToA);
        EXPECT_EQ(SessionRig::Read(target), data) << baud;
        EXPECT_EQ(cli.OutLines(), QStringList{kReceived + '\t' + target});
        EXPECT_TRUE(cli.err.contains(QString::number(baud))) << "announced speed shown";
        const QList<TransferRecord> records = line.Records();
        ASSERT_EQ(records.size(), 1);
        ExpectRecord(records[0], true, "received", target, data, line.modem.PortA());
        EXPECT_EQ(records[0].baud, baud);
    }
}

TEST(CliTransfer, ContinuousReceiveStopsAfterCount)
{
    Line line;
    SimulatedController controller(line.modem.PortB());
    const QList<QByteArray> files = {SessionRig::Pattern(1500, 1), SessionRig::Pattern(700, 2),
                                     SessionRig::Pattern(900, 3)};
    ASSERT_TRUE(controller.SendFiles(files, 38400));
    CliProcess cli({"receive", "--port", line.modem.PortA(), "--continuous", "--count", "2",
                    line.Path("part.nc")});
    ASSERT_TRUE(cli.Wait(60000));
    EXPECT_EQ(cli.ExitCode(), 0) << cli.err.toStdString();
    EXPECT_EQ(SessionRig::Read(line.Path("part.nc")), files[0]);
    EXPECT_EQ(SessionRig::Read(line.Path("part001.nc")), files[1]);
    EXPECT_FALSE(QFileInfo::exists(line.Path("part002.nc")));
    EXPECT_EQ(cli.OutLines(), (QStringList{kReceived + '\t' + line.Path("part.nc"),
                                           kReceived + '\t' + line.Path("part001.nc")}));
}

TEST(CliTransfer, InterruptCleansUpLikeCancel)
{
    // A new target: created at the start, gone after Ctrl-C or a closed
    // terminal. An existing one (with --overwrite): untouched after SIGTERM,
    // and no staging file left.
    Line line;
    const QString fresh = line.Path("fresh.nc");
    for (int signal : {SIGINT, SIGHUP}) {
        CliProcess waiting(line.Journal() +
                           QStringList{"receive", "--port", line.modem.PortA(), fresh});
        ASSERT_TRUE(waiting.WaitForText("Waiting"));
        EXPECT_TRUE(QFileInfo::exists(fresh));
        ASSERT_TRUE(waiting.Signal(signal));
        ASSERT_TRUE(waiting.Wait(10000));
        EXPECT_EQ(waiting.ExitCode(), 130) << signal;
        EXPECT_FALSE(QFileInfo::exists(fresh)) << signal;
        EXPECT_EQ(waiting.OutLines(), QStringList{"Cancelled\t" + fresh});
    }

    const QString stem = QStringLiteral("twcli%1").arg(QCoreApplication::applicationPid());
    const QString existing = line.Path(stem + ".nc");
    SessionRig::Write(existing, "keep me");
    SimulatedController controller(line.modem.PortB());
    ASSERT_TRUE(controller.SendFiles(QList<QByteArray>{SessionRig::Pattern(9000)}, 9600));
    CliProcess midway(line.Journal() + QStringList{"receive", "--overwrite", "--port",
                                                   line.modem.PortA(), existing});
    ASSERT_TRUE(midway.WaitForText("%", 20000)) << "data is flowing";
    ASSERT_TRUE(midway.Signal(SIGTERM));
    ASSERT_TRUE(midway.Wait(10000));
    EXPECT_EQ(midway.ExitCode(), 130);
    EXPECT_EQ(SessionRig::Read(existing), "keep me");
    EXPECT_TRUE(SessionRig::StagingFiles(stem).isEmpty());
    const QList<TransferRecord> records = line.Records();
    ASSERT_EQ(records.size(), 3);
    ExpectRecord(records[0], true, "cancelled", fresh, {}, line.modem.PortA());
    ExpectRecord(records[1], true, "cancelled", fresh, {}, line.modem.PortA());
    ExpectRecord(records[2], true, "cancelled", existing, {}, line.modem.PortA());
    EXPECT_GT(records[2].bytes, 0);
}

TEST(CliTransfer, ControllerFaultsGiveTheDialogsErrors)
{
    // Each fault of "tapeway-cli controller" against "tapeway-cli receive" into
    // an existing file, all at once (two of them wait out the 10 s watchdog).
    struct Case
    {
        QStringList fault;
        QString error;
        QString outcome; // in the journal
    };
    const QList<Case> cases = {
        {{"--flip-byte", "1000"}, kDataError, "data_error"},
        {{"--wrong-header-check"}, kDataError, "data_error"},
        {{"--drop-byte", "600"}, kLinkBroken, "link_broken"},
        {{"--silent-after", "1200"}, kLinkBroken, "link_broken"},
    };
    std::vector<std::unique_ptr<Line>> lines;
    std::vector<std::unique_ptr<CliProcess>> controllers, receivers;
    for (const Case& c : cases) {
        lines.push_back(std::make_unique<Line>());
        Line& line = *lines.back();
        SessionRig::Write(line.Path("src.nc"), SessionRig::Pattern(2000, 5));
        SessionRig::Write(line.Path("target.nc"), "old program");
        controllers.push_back(std::make_unique<CliProcess>(
            QStringList{"controller", "--port", line.modem.PortB(), "send", "--baud", "38400"} +
            c.fault + QStringList{line.Path("src.nc")}));
        receivers.push_back(
            std::make_unique<CliProcess>(QStringList{"receive", "--overwrite", "--port",
                                                     line.modem.PortA(), line.Path("target.nc")} +
                                         line.Journal()));
    }
    for (size_t i = 0; i < size_t(cases.size()); ++i) {
        CliProcess& receiver = *receivers[i];
        const QString what = cases[int(i)].fault.first();
        ASSERT_TRUE(receiver.Wait(40000)) << what.toStdString();
        EXPECT_EQ(receiver.ExitCode(), 1) << what.toStdString() << receiver.err.toStdString();
        EXPECT_EQ(receiver.OutLines(),
                  QStringList{cases[int(i)].error + '\t' + lines[i]->Path("target.nc")})
            << what.toStdString();
        EXPECT_EQ(SessionRig::Read(lines[i]->Path("target.nc")), "old program")
            << what.toStdString();
        EXPECT_EQ(QDir(lines[i]->dir.path()).entryList(QDir::Files),
                  (QStringList{"src.nc", "target.nc"}));
        const QList<TransferRecord> records = lines[i]->Records();
        ASSERT_EQ(records.size(), 1) << what.toStdString();
        ExpectRecord(records[0], true, cases[int(i)].outcome, lines[i]->Path("target.nc"), {},
                     lines[i]->modem.PortA());
        // A controller that sent its last packet is done; the others still
        // wait for a request that never comes, until SIGTERM.
        if (controllers[i]->Signal(SIGTERM)) {
            ASSERT_TRUE(controllers[i]->Wait(10000));
            EXPECT_EQ(controllers[i]->ExitCode(), 130) << what.toStdString();
        }
    }
}

TEST(CliTransfer, BatchToAControllerProcessThatAcknowledgesLate)
{
    // Both ends are tapeway-cli: "send" and "controller receive". A
    // controller storing the program sends its DC2 after the last packet
    // late; the sender takes it as the acknowledgement, not as a request.
    for (int baud : {9600, 38400}) {
        for (int delayMs : {0, 60, 500}) {
            Line line;
            const QList<QByteArray> files = {SessionRig::Pattern(1500, 11),
                                             SessionRig::Pattern(700, 12),
                                             SessionRig::Pattern(1024, 13)};
            QStringList args = {"send", "--port", line.modem.PortA(), "--baud",
                                QString::number(baud)};
            for (int i = 0; i < files.size(); ++i) {
                args << line.Path(QStringLiteral("f%1.nc").arg(i));
                SessionRig::Write(args.last(), files[i]);
            }
            CliProcess controller({"controller", "--port", line.modem.PortB(), "receive",
                                   line.Path("ctl"), "--count", "3", "--final-dc2-delay",
                                   QString::number(delayMs)});
            ASSERT_TRUE(controller.WaitForText("asking"));
            CliProcess sender(args);
            ASSERT_TRUE(sender.Wait(60000)) << baud << ' ' << delayMs;
            ASSERT_TRUE(controller.Wait(10000));
            EXPECT_EQ(sender.ExitCode(), 0) << baud << ' ' << delayMs << sender.err.toStdString();
            EXPECT_EQ(controller.ExitCode(), 0) << controller.err.toStdString();
            for (int i = 0; i < files.size(); ++i)
                EXPECT_EQ(SessionRig::Read(line.Path(QStringLiteral("ctl/O000%1.nc").arg(i + 1))),
                          files[i])
                    << baud << ' ' << delayMs << ' ' << i;
            EXPECT_EQ(sender.OutLines().size(), 3);
        }
    }
}

} // namespace
