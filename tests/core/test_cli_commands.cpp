// SPDX-License-Identifier: GPL-3.0-or-later
// tapeway-cli's command line itself: usage errors, the port and local-file
// exit statuses, skipped files, the port list and the null-modem command.
#include "serial/PortList.h"
#include "settings/SettingsStore.h"
#include "support/CliProcess.h"
#include "support/SessionRig.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tapeway;

namespace {

TEST(CliCommands, WrongCommandLinesAreUsageErrors)
{
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath("x.nc");
    SessionRig::Write(file, "x");
    const QList<QStringList> cases = {
        {},
        {"fly"},
        {"send", file},                  // no --port
        {"send", "--port", "/dev/null"}, // no FILE
        {"send", "--port", "/dev/null", "--baud", "4800", file},
        {"send", "--port", "/dev/null", "--bogus", file},
        {"receive", "--port", "/dev/null"}, // no TARGET
        {"receive", "--port", "/dev/null", "a.nc", "b.nc"},
        {"receive", "--port", "/dev/null", "--count", "2", "a.nc"}, // --count without --continuous
        {"receive", "--port", "/dev/null", "--continuous", "--count", "0", "a.nc"},
        {"receive", "--port", "/dev/null", "--header-timeout", "soon", "a.nc"},
        {"--lang", "fr", "ports"},
        {"controller", "--port", "/dev/null", "fly", file},
        {"controller", "--port", "/dev/null", "send", "--flip-byte", "-3", file},
        {"controller", "--protocol", "serial", "--port", "/dev/null", "send", file},
        {"controller", "--protocol", "tape", "--port", "/dev/null", "read", dir.path(), "--xon-at",
         "300"}, // DC1 above the default DC3 fill of 224
        {"controller", "--protocol", "tape", "--port", "/dev/null", "--profile", "No such", "punch",
         file},
        {"controller", "--protocol", "tape", "--port", "/dev/null", "punch", "--rate", "9", file},
        {"controller", "--protocol", "tape", "--port", "/dev/null", "--frame", "7X2", "punch",
         file},
        {"null-modem", "extra"},
        {"null-modem", "--pace", "--frame", "9X1"},
        {"null-modem", "--frame", "7E2"}, // a frame only times paced bytes
    };
    for (const QStringList& args : cases) {
        CliProcess cli;
        EXPECT_EQ(CliProcess::RunToEnd(args, &cli), 2) << args.join(' ').toStdString();
        EXPECT_FALSE(cli.err.isEmpty()) << args.join(' ').toStdString();
        EXPECT_TRUE(cli.out.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists("a.nc"));
}

TEST(CliCommands, EveryCommandHasHelp)
{
    for (const QString command : {"send", "receive", "ports", "controller", "null-modem", "demo"}) {
        CliProcess cli;
        EXPECT_EQ(CliProcess::RunToEnd({command, "--help"}, &cli), 0) << command.toStdString();
        EXPECT_TRUE(cli.out.startsWith("Usage: tapeway-cli " + command)) << cli.out.toStdString();
        EXPECT_TRUE(cli.out.contains("--lang")) << command.toStdString();
    }
    CliProcess top;
    EXPECT_EQ(CliProcess::RunToEnd({"--help"}, &top), 0);
    EXPECT_TRUE(top.out.contains("null-modem"));
}

TEST(CliCommands, PortThatCannotBeOpened)
{
    QTemporaryDir dir;
    const QString target = QDir(dir.path()).filePath("t.nc");
    CliProcess cli;
    EXPECT_EQ(CliProcess::RunToEnd({"receive", "--port", "/dev/no-such-tty", target}, &cli), 3);
    EXPECT_TRUE(cli.err.contains("/dev/no-such-tty")) << cli.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(target)) << "the target it created goes again";

    const QString file = QDir(dir.path()).filePath("s.nc");
    SessionRig::Write(file, "G0 X0");
    CliProcess send;
    EXPECT_EQ(CliProcess::RunToEnd({"send", "--port", "/dev/no-such-tty", file, file + "2"}, &send),
              3);
    // Every file named gets its line: why the first stopped, the rest not sent.
    EXPECT_EQ(send.OutLines(),
              (QStringList{"Invalid port number!\t" + file, "Not sent\t" + file + "2"}));

    if (::geteuid() != 0) {
        // A device we may not open: the system's reason and the dialout hint.
        const QString locked = QDir(dir.path()).filePath("ttyLocked");
        SessionRig::Write(locked, "");
        QFile::setPermissions(locked, QFileDevice::ReadOwner);
        CliProcess denied;
        EXPECT_EQ(CliProcess::RunToEnd({"receive", "--port", locked, target}, &denied), 3);
        EXPECT_TRUE(denied.err.contains("ermission")) << denied.err.toStdString();
        EXPECT_TRUE(denied.err.contains("dialout")) << denied.err.toStdString();
    }
}

TEST(CliCommands, LocalFileProblems)
{
    QTemporaryDir dir;
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    // The target exists and --overwrite was not given: untouched, status 4,
    // in either language.
    const QString existing = QDir(dir.path()).filePath("old.nc");
    SessionRig::Write(existing, "old");
    CliProcess english;
    EXPECT_EQ(CliProcess::RunToEnd({"receive", "--port", modem.PortA(), existing}, &english), 4);
    EXPECT_TRUE(english.err.contains("--overwrite")) << english.err.toStdString();
    CliProcess chinese;
    EXPECT_EQ(CliProcess::RunToEnd({"--lang", "zh", "receive", "--port", modem.PortA(), existing},
                                   &chinese),
              4);
    EXPECT_TRUE(chinese.err.contains(QStringLiteral("文件已存在"))) << chinese.err.toStdString();
    EXPECT_EQ(SessionRig::Read(existing), "old");

    // The target cannot be created.
    const QString nowhere = QDir(dir.path()).filePath("no/such/dir/t.nc");
    CliProcess cli;
    EXPECT_EQ(CliProcess::RunToEnd({"receive", "--port", modem.PortA(), nowhere}, &cli), 4);
    EXPECT_EQ(cli.OutLines(), QStringList{"Cannot open file.\t" + nowhere});
}

TEST(CliCommands, SkippedFilesOfABatchFailIt)
{
    QTemporaryDir dir;
    const QString missing = QDir(dir.path()).filePath("missing.nc");
    const QString empty = QDir(dir.path()).filePath("empty.nc");
    SessionRig::Write(empty, "");
    CliProcess cli;
    EXPECT_EQ(CliProcess::RunToEnd({"send", "--port", "/dev/no-such-tty", missing, empty}, &cli),
              1);
    EXPECT_EQ(cli.OutLines(),
              (QStringList{"The file is not exists,please input another!\t" + missing,
                           "File contains no data!\t" + empty}));
}

TEST(CliCommands, PortsInTheDialogsOrder)
{
    CliProcess cli;
    EXPECT_EQ(CliProcess::RunToEnd({"ports"}, &cli), 0);
    EXPECT_EQ(cli.OutLines(), FillPortList(DiscoverPorts(), QString()).entries);

    // The network port the dialog remembers comes after the local ones.
    QTemporaryDir config;
    const QString remembered = QStringLiteral("rfc2217://plc-7.example:4001");
    ASSERT_TRUE(QDir(config.path()).mkpath("tapeway"));
    ASSERT_TRUE(SettingsStore(QDir(config.path()).filePath("tapeway/RS232.ini"))
                    .WriteSettingValue(QStringLiteral("COM"), remembered));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    CliProcess network;
    network.process.setProcessEnvironment(env);
    network.Start({"ports"});
    ASSERT_TRUE(network.Wait());
    EXPECT_EQ(network.OutLines(), FillPortList(DiscoverPorts(), QString()).entries << remembered);
}

TEST(CliCommands, NullModemJoinsTwoEnds)
{
    CliProcess modem({"null-modem"});
    ASSERT_TRUE(WaitFor([&] {
        modem.Collect();
        return modem.OutLines().size() >= 2;
    }));
    const QStringList ends = modem.OutLines();
    SerialPort a, b;
    LinkSettings link;
    link.portName = ends[0];
    ASSERT_TRUE(OpenPort(a, link));
    link.portName = ends[1];
    ASSERT_TRUE(OpenPort(b, link));
    QByteArray got;
    QObject::connect(&b, &SerialPort::OnComm, [&] { got += b.GetInput(); });
    a.SetOutput("G01 X10.");
    EXPECT_TRUE(WaitFor([&] { return got == "G01 X10."; }, 5000)) << got.toStdString();
    ASSERT_TRUE(modem.Signal(SIGTERM));
    ASSERT_TRUE(modem.Wait(10000));
    EXPECT_EQ(modem.ExitCode(), 0);
}

} // namespace
