// SPDX-License-Identifier: GPL-3.0-or-later
// tapeway-cli's command line itself: usage errors, the port and local-file
// exit statuses, skipped files, the port list and the null-modem command.
#include "serial/PortList.h"
#include "settings/SettingsStore.h"
#include "support/CliProcess.h"
#include "support/SessionRig.h"
#include "transfer/TapeProfileFile.h"

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
        {"receive", "--port", "/dev/null", "--protocol", "tape", "--start-at", "N1", "a.nc"},
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

// An own profile file: a profile of its own, one in place of a preset and
// a section that cannot be read (its frame, on line 7).
QString WriteOwnProfiles(const QTemporaryDir& dir)
{
    const QString path = QDir(dir.path()).filePath("own.ini");
    SessionRig::Write(path, "[Lathe 3]\nBaud=2400\nFrame=7O1\n"
                            "[Haas]\nLeader=20\n"
                            "[Broken]\nFrame=9X9\n");
    return path;
}

TEST(CliCommands, TapeOptionsAreCheckedBeforeThePortIsOpened)
{
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath("x.nc");
    SessionRig::Write(file, "%\nG0 X0\n%\n");
    const QString restartable = QDir(dir.path()).filePath("n10.nc");
    SessionRig::Write(restartable, "%\nG90\nN10 G0 X0\n%\n");
    const QString own = WriteOwnProfiles(dir);
    const QString target = QDir(dir.path()).filePath("t.nc");
    const QStringList send{"send", "--port", "/dev/no-such-tty", "--protocol", "tape"};
    const QStringList receive{"receive", "--port", "/dev/no-such-tty", "--protocol", "tape"};
    struct Row
    {
        QStringList args;
        int status; // 2 refused with the reason; 3 accepted, so the port was tried; 4 a
                    // local file refused
        QString text;
    };
    const QList<Row> rows = {
        {send + QStringList{"--profile", "Lathe 9", file}, 2, "Fanuc ISO, Fanuc EIA, Haas"},
        {QStringList{"--lang", "zh"} + send + QStringList{"--profile", "Lathe 9", file}, 2,
         QStringLiteral("没有名为“Lathe 9”的纸带配置")},
        {send + QStringList{"--frame", "9X1", file}, 2, "--frame: '9X1' is no frame"},
        {send + QStringList{"--baud", "12345", file}, 2, "Baud: 12345 is not one of the speeds"},
        {send + QStringList{"--leader", "many", file}, 2, "--leader: 'many' is not a whole number"},
        {send + QStringList{"--code", "eia", file}, 2, "Eob: EIA has one end-of-block code"},
        {send + QStringList{"--protocol", "punch", file}, 2, "--protocol takes packet or tape"},
        {{"send", "--port", "/dev/no-such-tty", "--frame", "7E2", file},
         2,
         "--frame belongs to the tape protocol"},
        {{"send", "--port", "/dev/no-such-tty", "--profile", "Haas", file},
         2,
         "--profile belongs to the tape protocol"},
        {{"receive", "--port", "/dev/no-such-tty", "--baud", "4800", target},
         2,
         "--baud belongs to the tape protocol"},
        {send + QStringList{"--profiles-file", own, "--profile", "broken", file}, 2,
         own + ", line 7: Frame:"},
        {send + QStringList{"--profiles-file", own + ".gone", file}, 2, own + ".gone"},
        // A restart: one program, on a tape line, one way of naming where.
        {{"send", "--port", "/dev/no-such-tty", "--start-at", "N10", file},
         2,
         "--start-at belongs to the tape protocol"},
        {send + QStringList{"--start-at", "N10", "--start-at-line", "2", file}, 2,
         "--start-at and --start-at-line exclude each other"},
        {send + QStringList{"--preamble", file, file}, 2, "--preamble belongs to a restart"},
        {send + QStringList{"--start-at", "N10", file, file}, 2, "give exactly one FILE"},
        {send + QStringList{"--start-at", "N-10", file}, 2, "--start-at: \"N-10\" is not a block"},
        {QStringList{"--lang", "zh"} + send + QStringList{"--start-at", "G10", file}, 2,
         QStringLiteral("--start-at: “G10”")},
        {send + QStringList{"--start-at-line", "0", file}, 2, "a line number from 1, not \"0\""},
        {send + QStringList{"--start-at-line", "3", "--preamble", file + ".gone", file}, 4,
         "--preamble: the preamble file " + file + ".gone does not exist"},
        {send + QStringList{"--start-at", "n0010", "--preamble", file, restartable}, 3,
         "/dev/no-such-tty"},
        // Accepted: an own profile with overrides, a preset, the default.
        {send + QStringList{"--profiles-file", own,   "--profile",   "lathe 3", "--baud",    "4800",
                            "--frame",         "7e2", "--handshake", "rtscts",  "--eob",     "crlf",
                            "--start-on",      "xon", "--leader",    "10",      "--trailer", "10",
                            "--dc-codes",      file},
         3, own + ", line 7"}, // the broken section is still named
        {send + QStringList{"--profile", "Fanuc EIA", file}, 3, "/dev/no-such-tty"},
        {receive + QStringList{"--end", "idle", "--idle", "5", "--saved-eol", "crlf",
                               "--continuous", "--count", "2", "--header-timeout", "5", target},
         3, "/dev/no-such-tty"},
    };
    for (const Row& row : rows) {
        CliProcess cli;
        const std::string args = row.args.join(' ').toStdString();
        EXPECT_EQ(CliProcess::RunToEnd(row.args, &cli), row.status) << args;
        EXPECT_TRUE(cli.err.contains(row.text)) << args << "\n" << cli.err.toStdString();
        if (row.status == 2) {
            EXPECT_TRUE(cli.out.isEmpty()) << args;
        }
    }
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST(CliCommands, ProfilesListsPresetsAndOwnProfiles)
{
    QTemporaryDir dir;
    const QString own = WriteOwnProfiles(dir);
    CliProcess cli;
    EXPECT_EQ(CliProcess::RunToEnd({"profiles", "--profiles-file", own}, &cli), 2);
    for (const TapeProfile& preset : TapeProfileFile::Presets())
        EXPECT_TRUE(cli.out.contains("\n[" + preset.name + "]\n")) << preset.name.toStdString();
    EXPECT_TRUE(
        cli.out.contains("; own profile, from " + own + "\n[Lathe 3]\nBaud=2400\nFrame=7O1\n"))
        << cli.out.toStdString();
    EXPECT_TRUE(cli.out.contains("; own profile in place of the preset, from " + own +
                                 "\n[Haas]\nBaud=9600\nFrame=7E2\n"))
        << cli.out.toStdString();
    EXPECT_FALSE(cli.out.contains("[Broken]"));
    EXPECT_EQ(cli.err.trimmed(), own + ", line 7: Frame: '9X9' is no frame such as 7E2 or 8N1 "
                                       "(data bits 7 or 8, parity N, E or O, stop bits 1 or 2)");

    CliProcess chinese;
    EXPECT_EQ(CliProcess::RunToEnd({"--lang", "zh", "profiles", "--profiles-file", own}, &chinese),
              2);
    EXPECT_TRUE(chinese.err.startsWith(own + QStringLiteral(" 第 7 行：Frame: “9X9”不是数据格式")))
        << chinese.err.toStdString();
    EXPECT_TRUE(chinese.out.contains(QStringLiteral("; 自己的配置，来自 ") + own));

    // The own file beside the dialog's RS232.ini: where it would go while
    // there is none, then its profiles.
    QTemporaryDir config;
    const QString settingsFile = QDir(config.path()).filePath("tapeway/tape-profiles.ini");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    for (const bool present : {false, true}) {
        if (present) {
            ASSERT_TRUE(QDir(config.path()).mkpath("tapeway"));
            SessionRig::Write(settingsFile, "[Mill 2]\nFrame=8N1\n");
        }
        CliProcess settings;
        settings.process.setProcessEnvironment(env);
        settings.Start({"profiles"});
        ASSERT_TRUE(settings.Wait());
        EXPECT_EQ(settings.ExitCode(), 0);
        EXPECT_TRUE(settings.out.startsWith("; own tape profiles: " + settingsFile +
                                            (present ? "\n" : " (no such file yet)\n")))
            << settings.out.toStdString();
        EXPECT_EQ(settings.out.count("\n; preset\n["), TapeProfileFile::Presets().size());
        EXPECT_EQ(settings.out.contains("\n[Mill 2]\n"), present);
    }
}

TEST(CliCommands, EveryCommandHasHelp)
{
    for (const QString command :
         {"send", "receive", "ports", "profiles", "controller", "null-modem", "demo"}) {
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
