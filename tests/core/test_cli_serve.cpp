// SPDX-License-Identifier: GPL-3.0-or-later
// tapeway-cli serve end to end: the built service on one end of paced
// virtual null-modems, "tapeway-cli controller" processes as the machines on
// the other, and the configuration table of the service.
#include "journal/SqlJournal.h"
#include "resources/StringTable.h"
#include "serve/Approval.h"
#include "serve/FileMove.h"
#include "serve/InboxNaming.h"
#include "serve/LineDiff.h"
#include "serve/Outbox.h"
#include "serve/ServeConfig.h"
#include "serve/StatusFile.h"
#include "support/CliProcess.h"
#include "support/FaultTools.h"
#include "transfer/SendSource.h"
#include "transfer/TapeProfileFile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace tapeway;

namespace {

// A part program as a machine punches it: text, its number at the start of a line.
QByteArray Sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QByteArray Program(const QString& number, int size, int seed)
{
    QByteArray text = "%\n";
    if (!number.isEmpty())
        text += number.toLatin1() + " (PART " + QByteArray::number(seed) + ")\n";
    for (int n = 1; text.size() < size - 3; ++n)
        text += "N" + QByteArray::number(n) + " G1 X" + QByteArray::number((n * seed) % 997) +
                " Y" + QByteArray::number((n * 31 + seed) % 499) + "\n";
    return text + "%\n";
}

// One machine: a paced null-modem whose service end is reached through a
// link that the test can take away and bring back, like a device path.
struct Machine
{
    std::unique_ptr<VirtualNullModem> modem;
    QString link;
    std::unique_ptr<CliProcess> controller;

    void Plug()
    {
        modem = std::make_unique<VirtualNullModem>();
        modem->SetPaced(true);
        if (!modem->Start())
            qFatal("null-modem: %s", qPrintable(modem->LastError()));
        QFile::remove(link);
        QFile::link(modem->PortA(), link);
    }
    void Unplug()
    {
        QFile::remove(link);
        modem->HangUp();
    }
    void Run(const QStringList& args)
    {
        controller = std::make_unique<CliProcess>(
            QStringList{"controller", "--port", modem->PortB()} + args);
    }
    bool Done(int timeoutMs = 60000) { return controller->Wait(timeoutMs); }
};

struct Service
{
    QTemporaryDir dir;
    QString config = QDir(dir.path()).filePath("lines.ini");
    CliProcess process;
    std::map<QString, Machine> machines;

    ~Service()
    {
        if (::testing::Test::HasFailure()) {
            process.Collect();
            std::cerr << "service log:\n" << process.err.toStdString();
            for (const auto& [name, machine] : machines) // what each line did
                std::cerr << name.toStdString() << ": garbled to the machine "
                          << machine.modem->BytesGarbled(VirtualNullModem::AToB) << ", to us "
                          << machine.modem->BytesGarbled(VirtualNullModem::BToA) << "\n";
        }
    }

    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    // A section for a line of the given mode, with its folders made.
    QString Section(const QString& name, const QString& mode)
    {
        Machine& machine = machines[name];
        machine.link = Path(name + ".tty");
        machine.Plug();
        QDir().mkpath(Path(name + "/in"));
        QDir().mkpath(Path(name + "/out"));
        QString text = QStringLiteral("[%1]\nPort=%2 ; the machine\nMode=%3\nBaud=9600\n")
                           .arg(name, machine.link, mode);
        if (mode != "send")
            text += QStringLiteral("Inbox=%1/in\n").arg(name);
        if (mode != "receive")
            text += QStringLiteral("Outbox=%1/out\n").arg(name);
        return text;
    }
    void Start(const QString& sections)
    {
        faults::Write(config, sections.toUtf8());
        process.Start({"serve", "--config", config, "--runtime-dir", Path("run"), "--retry-seconds",
                       "2", "--journal", "sqlite:" + Path("run/journal.sqlite")});
    }
    QJsonObject Line(const QString& name) const
    {
        const QJsonObject status =
            QJsonDocument::fromJson(faults::Read(Path("run/lines.status.json"))).object();
        for (const QJsonValue& line : status.value("lines").toArray()) {
            if (line.toObject().value("name").toString() == name)
                return line.toObject();
        }
        return {};
    }
    bool WaitState(const QString& name, const QString& state, int timeoutMs = 30000)
    {
        return WaitFor([&] { return Line(name).value("state").toString() == state; }, timeoutMs);
    }
    void Queue(const QString& name, const QString& file, const QByteArray& data)
    {
        faults::Write(Path(name + "/out/" + file), data);
    }
};

TEST(CliServe, ConfigurationErrorsNameTheirLine)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("in");
    QDir(dir.path()).mkpath("in/sub");
    QDir(dir.path()).mkpath("out/sub");
    QFile::link(QDir(dir.path()).filePath("in"), QDir(dir.path()).filePath("in-link"));
    QFile::link(QDir(dir.path()).filePath("out"), QDir(dir.path()).filePath("out-link"));
    const QString path = QDir(dir.path()).filePath("lines.ini");
    const QString ok = "Port=/dev/ttyS0\nMode=receive\nInbox=in\n";
    const QString tape = "[A]\n" + ok + "Protocol=tape\n"; // Profile= comes at line 6
    const QString web = "[A]\n" + ok + "[HTTP]\nListen=127.0.0.1:8470\n"; // next: line 7
    faults::Write(QDir(dir.path()).filePath("office.crt"), "PEM");
    faults::Write(QDir(dir.path()).filePath("office.key"), "PEM");
    // The operator's own profiles: one new, one over a preset, two that do not read.
    faults::Write(QDir(dir.path()).filePath("own.ini"),
                  "[Mill 5]\nBaud=2400\nFrame=8N1\n[Haas]\nLeader=120\n[Broken]\nBaud=12\n"
                  "[Fanuc EIA]\nFrame=9X9\n");
    struct Row
    {
        QString text;
        int line; // 0: no error
        QString reason;
    };
    const QList<Row> rows = {
        {"[A]\n" + ok + "Speed=9600\n", 5, "unknown key \"Speed\""},
        {"[A]\nPort=ttyS0\nMode=receive\nInbox=missing\n", 4, "does not exist"},
        {"[A]\n" + ok + "Library=missing\n", 5, "does not exist"},
        {"[A]\n" + ok + "Approve=later\n", 5, "Approve is yes or no, not \"later\""},
        {"[A]\nPort=x\nMode=send\nOutbox=out\nApprove=yes\n", 5, "only sends"},
        {"[A]\n" + ok + "\n[B]\nPort=COM1\nMode=receive\nInbox=in\n", 6, "uses the port"},
        {"[A]\nPort=x\nMode=punch\nInbox=in\n", 3, "receive, send or both"},
        {"[A]\n" + ok + "[a]\nPort=y\nMode=receive\nInbox=in\n", 5, "already defined at line 1"},
        {"Port=x\n[A]\n" + ok, 1, "before the first"},
        {"[A]\nPort=x\nMode=send\n", 1, "needs Outbox"},
        {"[A]\nPort=x\nMode=both\nInbox=in\nOutbox=./in\n", 5, "one folder"},
        {"[A]\n" + ok + "Baud=4800\n", 5, "9600, 19200 or 38400"},
        {"[A/B]\n" + ok, 1, "not usable"},
        {"[A]\n" + ok + "Port=z\n", 5, "given twice"},
        // Folders compare as the system finds them, through links.
        {"[A]\nPort=x\nMode=both\nInbox=in\nOutbox=in-link\n", 5, "one folder"},
        {"[A]\nPort=x\nMode=both\nInbox=in\nOutbox=in-link/sub\n", 5, "one inside the other"},
        {"[A]\nPort=x\nMode=both\nInbox=out/sub\nOutbox=out\n", 5, "one inside the other"},
        {"[A]\n" + ok + "[B]\nPort=y\nMode=send\nOutbox=in-link\n", 5,
         "the Inbox of the line \"A\" and the Outbox of the line \"B\""},
        {"[A]\nPort=x\nMode=send\nOutbox=in\n[B]\nPort=y\nMode=receive\nInbox=in-link/sub\n", 5,
         "programs received on \"B\" would be sent on \"A\""},
        {"[A]\nPort=x\nMode=send\nOutbox=out\n[B]\nPort=y\nMode=send\nOutbox=out-link\n", 5,
         "takes its programs from the Outbox of the line \"A\""},
        {tape, 1, "speaks the tape protocol and needs Profile=NAME (known: Fanuc ISO, "},
        {tape + "Profile=Nope\n", 6, "unknown tape profile \"Nope\" (known: Fanuc ISO, "},
        {tape + "Profile=Fanuc ISO\nFrame=7X2\n", 7, "Frame: '7X2' is no frame"},
        {tape + "Profile=Fanuc ISO\nBaud=1234\n", 7, "cannot work: Baud: 1234 is not one of"},
        {tape + "Profile=Fanuc EIA\nFrame=7E2\n", 7, "cannot work: Frame: EIA"},
        // A setting broken by another key's change is told at the profile.
        {tape + "Profile=Fanuc ISO\nCode=eia\n", 6, "\"Fanuc ISO\" with this line's settings"},
        {tape + "Profile=Haas\nParity=even\n", 7, "Parity is a setting of the packet protocol"},
        {"[A]\n" + ok + "Eob=crlf\n", 5, "speaks the packet protocol (Protocol=tape"},
        {"[A]\n" + ok + "Profile=Haas\n", 5, "speaks the packet protocol"},
        {"[A]\n" + ok + "Protocol=serial\n", 5, "packet or tape, not \"serial\""},
        {"Profiles=missing.ini\n[A]\n" + ok, 1, "missing.ini cannot be read"},
        {"[A]\n" + ok + "Profiles=own.ini\n", 5, "belongs before the first"},
        {"Profiles=own.ini\n" + tape + "Profile=broken\n", 7,
         "the tape profile \"Broken\" of " + dir.path() + "/own.ini:6 is not usable: Baud: 12"},
        // An own profile that does not read never lets the preset of its name stand in.
        {"Profiles=own.ini\n" + tape + "Profile=Fanuc EIA\n", 7, "own.ini:9 is not usable: Frame"},
        // Requests: their numbers, and a library that is not the office's queue.
        {"[A]\n" + ok + "RequestNumber=9X\n", 5, "RequestNumber is a program number such as O9999"},
        {"[A]\n" + ok + "ReplyNumber=\n", 5, "ReplyNumber is a program number"},
        {"[A]\n" + ok + "RequestNumber=o09998\n", 5, "are one program number"},
        {"[A]\nPort=x\nMode=both\nInbox=in\nOutbox=out\nLibrary=out-link\n", 6,
         "Library and Outbox are one folder"},
        // The office view's web server: [HTTP] is no line.
        {web + "Listen=127.0.0.1:1\n", 7, "Listen is given twice"},
        {"[A]\n" + ok + "[HTTP]\nListen=127.0.0.1\n", 6, "Listen is ADDRESS:PORT"},
        {"[A]\n" + ok + "[HTTP]\nListen=127.0.0.1:65536\n", 6, "not \"127.0.0.1:65536\""},
        {"[A]\n" + ok + "[HTTP]\nListen=::1:8470\n", 6, "Listen is ADDRESS:PORT"},
        {"[A]\n" + ok + "[HTTP]\nListen=lathe-pc:8470\n", 6, "Listen is ADDRESS:PORT"},
        {"[A]\n" + ok + "[HTTP]\nUsers=users\n", 5, "[HTTP] needs Listen=ADDRESS:PORT"},
        {web + "Port=8080\n", 7, "unknown key \"Port\" in [HTTP] (known: Listen, Users, "},
        {"[A]\n" + ok + "[HTTP]\nListen=0.0.0.0:8470\n", 6, "it needs Users=FILE"},
        {"[A]\n" + ok + "[HTTP]\nListen=[::]:8470\nUsers=\n", 6, "it needs Users=FILE"},
        {web + "Certificate=office.crt\n", 7, "Certificate= needs Key="},
        {web + "Key=office.key\n", 7, "Key= needs Certificate="},
        {web + "Certificate=office.crt\nKey=missing.key\n", 8, "missing.key cannot be read"},
        {web + "Users=in\n", 7, "names a folder"},
        {web + "MaxUpload=0\n", 7, "MaxUpload is a number of bytes above 0"},
        {web + "MaxUpload=64MB\n", 7, "not \"64MB\""},
        {web + "MaxUpload=-1K\n", 7, "MaxUpload is a number"},
        {web + "MaxUpload=99999999999G\n", 7, "MaxUpload is a number"},
        {web + "ClientTimeout=0\n", 7, "ClientTimeout is a number of seconds from 1 to 3600"},
        {web + "ClientTimeout=3601\n", 7, "not \"3601\""},
        {web + "[http]\nListen=127.0.0.1:1\n", 7,
         "a second [HTTP] section (the first is at line 5)"},
        {"[A]\n" + ok +
             "[B]\nPort=y\nMode=receive\nInbox=in\n[HTTP]\nListen=127.0.0.1:0\n"
             "[b]\nPort=z\nMode=receive\nInbox=in\n",
         11, "the line \"b\" is already defined at line 5"},
        {"[Lathe 3]\nPort = /dev/ttyUSB0   ; USB adapter\nMode=Both\nInbox=in\nOutbox=out\n", 0,
         ""},
    };
    for (const Row& row : rows) {
        const ServeConfig config = ServeConfig::Parse(row.text.toUtf8(), path);
        if (row.line == 0) {
            ASSERT_TRUE(config.IsValid()) << config.errors.join('\n').toStdString();
            ASSERT_EQ(config.lines.size(), 1);
            EXPECT_EQ(config.lines[0].link.portName, "/dev/ttyUSB0");
            EXPECT_EQ(config.lines[0].outbox, QDir(dir.path()).filePath("out"));
            continue;
        }
        ASSERT_EQ(config.errors.size(), 1) << row.text.toStdString();
        EXPECT_TRUE(config.errors[0].startsWith(path + ":" + QString::number(row.line) + ": "))
            << config.errors[0].toStdString();
        EXPECT_TRUE(config.errors[0].contains(row.reason)) << config.errors[0].toStdString();
        EXPECT_TRUE(config.lines.isEmpty());
    }

    // Every [HTTP] key read; without [HTTP] there is no web server.
    const ServeConfig office = ServeConfig::Parse(
        ("[HTTP]\nlisten=[::1]:0\nUsers=users ; made by tapeway-cli user add\n"
         "Certificate=office.crt\nKey=./office.key\nMaxUpload=512k\nClientTimeout=5\n[A]\n" +
         ok)
            .toUtf8(),
        path);
    ASSERT_TRUE(office.IsValid()) << office.errors.join('\n').toStdString();
    ASSERT_TRUE(office.http.has_value());
    const HttpConfig& http = *office.http;
    EXPECT_EQ(
        std::tie(http.sourceLine, http.address, http.port, http.maxUpload, http.clientTimeoutS),
        std::make_tuple(1, QHostAddress(QHostAddress::LocalHostIPv6), quint16(0),
                        qint64(512 * 1024), 5));
    EXPECT_EQ(http.users + http.certificate + http.key,
              QDir(dir.path()).filePath("users") + QDir(dir.path()).filePath("office.crt") +
                  QDir(dir.path()).filePath("office.key"));
    EXPECT_TRUE(http.Tls());
    EXPECT_EQ(office.lines.size(), 1);
    const ServeConfig defaults = ServeConfig::Parse(
        ("[A]\n" + ok + "[HTTP]\nListen=0.0.0.0:8470\nUsers=users\n").toUtf8(), path);
    ASSERT_TRUE(defaults.http.has_value()) << defaults.errors.join('\n').toStdString();
    EXPECT_EQ(std::tie(defaults.http->maxUpload, defaults.http->clientTimeoutS),
              std::make_tuple(HttpConfig::kDefaultMaxUpload, HttpConfig::kDefaultClientTimeoutS));
    EXPECT_FALSE(defaults.http->Tls() || defaults.http->Loopback());
    EXPECT_FALSE(ServeConfig::Parse(("[A]\n" + ok).toUtf8(), path).http.has_value());

    const ServeConfig asks =
        ServeConfig::Parse(("[A]\n" + ok +
                            "RequestNumber=\nLibrary=out\n[B]\nPort=b\nMode=receive\nInbox=in\n"
                            "RequestNumber=1\nReplyNumber=o2\n")
                               .toUtf8(),
                           path);
    ASSERT_TRUE(asks.IsValid()) << asks.errors.join('\n').toStdString();
    EXPECT_EQ(asks.lines[0].requestNumber, "") << "requests off";
    EXPECT_EQ(asks.lines[0].replyNumber, "O9998");
    EXPECT_EQ(asks.lines[0].library, QDir(dir.path()).filePath("out"));
    EXPECT_EQ(asks.lines[1].requestNumber + asks.lines[1].replyNumber, "O1O2");

    // A tape line's profile: a preset or an own one (also over a preset),
    // with the line's keys over it; a packet line has none.
    const ServeConfig lines = ServeConfig::Parse(
        "Profiles=own.ini\n[P]\nPort=p\nMode=receive\nInbox=in\n"
        "[T]\nPort=t\nMode=receive\nInbox=in\nProtocol=Tape\nProfile=fanuc iso\nBaud=9600\n"
        "StartOn=xon\nLeader=20\n"
        "[M]\nPort=m\nMode=receive\nInbox=in\nProtocol=tape\nProfile=Mill 5\n"
        "[H]\nPort=h\nMode=receive\nInbox=in\nProtocol=tape\nProfile=Haas\n",
        path);
    ASSERT_TRUE(lines.IsValid()) << lines.errors.join('\n').toStdString();
    ASSERT_EQ(lines.lines.size(), 4);
    EXPECT_FALSE(lines.lines[0].tape);
    TapeProfile fanuc = *TapeProfileFile::Find(TapeProfileFile::Presets(), "Fanuc ISO");
    fanuc.baud = 9600;
    fanuc.startOn = TapeProfile::StartOn::Xon;
    fanuc.leader = 20;
    EXPECT_EQ(lines.lines[1].tape, fanuc);
    EXPECT_EQ(lines.lines[1].baud, 9600);
    EXPECT_EQ(lines.lines[2].tape->FrameText(), "8N1");
    EXPECT_EQ(lines.lines[2].baud, 2400);
    EXPECT_EQ(lines.lines[3].tape->leader, 120);
    // The status names each line's protocol and a tape line's profile.
    // A punched program's length is unknown: the bytes so far stand for a percentage.
    ServeLine::Status receiving;
    receiving.state = ServeLine::State::Receiving;
    receiving.bytes = 1234;
    // A feed: at a block, held by the machine; without one, after an XON.
    ServeLine::Status held, fed;
    held.state = fed.state = ServeLine::State::Sending;
    held.feed = FeedStatus{51234, 1804220, 41200, 700000, 9000000, true, false, 125000};
    fed.feed = FeedStatus{12, 300, std::nullopt, 400, 9000, false, false, 3000};
    QJsonArray objects;
    for (const LineConfig& line : lines.lines)
        objects.append(StatusFile::LineObject(line, line.name == "M"   ? receiving
                                                    : line.name == "H" ? held
                                                    : line.name == "T" ? fed
                                                                       : ServeLine::Status{}));
    EXPECT_FALSE(objects[0].toObject().contains("feed"));
    EXPECT_EQ(
        QJsonDocument(objects[3].toObject().value("feed").toObject())
            .toJson(QJsonDocument::Compact),
        R"({"block":41200,"held":true,"line":51234,"lines":1804220,"msSinceFlowChange":125000,)"
        R"("sent":700000,"total":9000000,"waitingForXon":false})");
    EXPECT_FALSE(objects[1].toObject().value("feed").toObject().contains("block"));
    const QString chinese = StatusFile::FormatTable({{"lines", objects}}, kChinese);
    EXPECT_TRUE(chinese.contains("机床保持线路（XOFF）已 2分5秒")) << chinese.toStdString();
    EXPECT_EQ(objects[0].toObject().value("protocol"), "packet");
    EXPECT_FALSE(objects[0].toObject().contains("profile"));
    EXPECT_EQ(objects[1].toObject().value("protocol"), "tape");
    EXPECT_EQ(objects[1].toObject().value("profile"), "Fanuc ISO");
    EXPECT_EQ(objects[2].toObject().value("bytes"), 1234);
    EXPECT_FALSE(objects[2].toObject().contains("percent"));
    const QStringList table = StatusFile::FormatTable({{"lines", objects}}, kEnglish).split('\n');
    EXPECT_TRUE(table[0].contains("PROTOCOL") && table[1].contains("  packet  ") &&
                table[2].contains("  tape (Fanuc ISO)  ") &&
                table[3].contains("receiving 1234 bytes") &&
                table[2].contains("line 12 of 300, 3 s since XON") &&
                table[4].contains("N41200, line 51,234 of 1,804,220, the machine holds the line "
                                  "(XOFF) for 2 min 5 s"))
        << table.join('\n').toStdString();

    // A line shows a feed only while its file goes out, and not after it ended.
    LineConfig sender = lines.lines[1];
    sender.mode = LineMode::Send;
    sender.inbox.clear();
    sender.outbox = dir.filePath("out");
    QDir().mkpath(sender.outbox);
    faults::Write(sender.outbox + "/O1.nc", "%\nO1\n%\n");
    ServeLine line(sender, kEnglish);
    line.ShowFeedStatus(*held.feed);
    EXPECT_FALSE(line.GetStatus().feed);
    int row = 0; // the file joins the queue once it has settled
    ASSERT_TRUE(WaitFor([&] { return !line.NextCheckedFile(row).isEmpty(); }, 15000));
    line.ShowFeedStatus(*held.feed);
    EXPECT_EQ(line.GetStatus().feed, held.feed);
    line.SetRowState(row, LoadString(171)); // "Complete"
    EXPECT_FALSE(line.GetStatus().feed);

    // The service itself does not start on such a file.
    faults::Write(path, rows[0].text.toUtf8());
    CliProcess serve({"serve", "--config", path, "--runtime-dir", dir.path()});
    ASSERT_TRUE(serve.Wait(10000));
    EXPECT_EQ(serve.ExitCode(), 2);
    EXPECT_TRUE(serve.err.contains(path + ":5: unknown key")) << serve.err.toStdString();
}

TEST(CliServe, InboxNamesAndOutboxFolders)
{
    const QDateTime at(QDate(2026, 5, 1), QTime(8, 9, 10));
    for (const auto& [data, name] :
         {std::pair{"%\nO1234\nG0 X1\n", "O1234.nc"},
          std::pair{"%\r\nO0077 (PART)\r\n", "O0077.nc"}, std::pair{"O5(A)\n", "O5.nc"},
          std::pair{"%\n:1234 (ISO TAPE)\n", "O1234.nc"},
          std::pair{"%\nO123456\n", "L-20260501-080910.nc"},
          std::pair{"%\nG1 O12\nN1\n", "L-20260501-080910.nc"}})
        EXPECT_EQ(InboxFileName(data, "L", at), name) << data;

    QTemporaryDir dir;
    const auto path = [&](const QString& name) { return QDir(dir.path()).filePath(name); };
    for (const QString name : {"b.nc", "a.nc", ".part.nc"})
        faults::Write(path(name), "x");
    Outbox outbox(dir.path());
    EXPECT_TRUE(outbox.Queue().isEmpty()) << "files still settling";
    const QDateTime later = QDateTime::currentDateTime().addSecs(3);
    EXPECT_EQ(outbox.Queue(later), (QStringList{path("a.nc"), path("b.nc")}));
    QString moved, error;
    // The office's order first, then the rest by name; a name not queued is
    // passed over, one that could name no file here is refused.
    faults::Write(path("c.nc"), "x");
    ASSERT_TRUE(outbox.SetOrder({"c.nc", "gone.nc", "a.nc"}, &error)) << error.toStdString();
    EXPECT_EQ(outbox.Queue(later.addSecs(3)),
              (QStringList{path("c.nc"), path("a.nc"), path("b.nc")}));
    for (const QString bad : {"../x", ".hidden", "a\nb", ""})
        EXPECT_FALSE(outbox.SetOrder({"a.nc", bad}, &error)) << bad.toStdString();
    EXPECT_EQ(outbox.Order(), (QStringList{"c.nc", "a.nc"}))
        << "kept as it was, less the name of no file";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{".order", ".part.nc", "a.nc", "b.nc", "c.nc"}));
    ASSERT_TRUE(QFile::remove(path("c.nc")) && QFile::remove(path(".order")));
    EXPECT_FALSE(outbox.MarkFailed(path("a.nc"), &moved));
    EXPECT_FALSE(outbox.MarkFailed(path("a.nc"), &moved));
    EXPECT_EQ(outbox.Queue(later).first(), path("a.nc")) << "a failed file stays first";
    // A new version put in its place starts its failures again.
    faults::Write(path("a.nc.new"), "new version");
    ASSERT_EQ(::rename(QFile::encodeName(path("a.nc.new")), QFile::encodeName(path("a.nc"))), 0);
    EXPECT_EQ(outbox.Failures(path("a.nc")), 0);
    EXPECT_FALSE(outbox.MarkFailed(path("a.nc"), &moved));
    EXPECT_FALSE(outbox.MarkFailed(path("a.nc"), &moved));
    EXPECT_EQ(outbox.Failures(path("a.nc")), 2);
    EXPECT_TRUE(outbox.MarkFailed(path("a.nc"), &moved));
    EXPECT_TRUE(moved.startsWith(path("failed/")) && moved.endsWith("-a.nc"))
        << moved.toStdString();
    bool changed = true;
    const QString sent = outbox.MarkSent(path("b.nc"), SendSource::Identify(path("b.nc")),
                                         Sha256("x"), &changed, &error);
    EXPECT_FALSE(changed);
    EXPECT_TRUE(sent.startsWith(path("sent/")) && sent.endsWith("-b.nc")) << sent.toStdString();
    EXPECT_EQ(faults::Read(sent), "x");

    // Only the file that was sent moves to sent/: not one put in its place,
    // nor one whose bytes changed since it was read (even under the same
    // length and time).
    const QList<std::pair<const char*, std::function<void(const QString&)>>> changes = {
        {"replaced",
         [](const QString& file) {
             faults::Write(file + ".new", "new program");
             ASSERT_EQ(::rename(QFile::encodeName(file + ".new"), QFile::encodeName(file)), 0);
         }},
        {"grown",
         [](const QString& file) {
             QFile grow(file);
             ASSERT_TRUE(grow.open(QIODevice::Append));
             grow.write(" and more");
         }},
        {"rewritten",
         [](const QString& file) {
             const QDateTime time = QFileInfo(file).lastModified();
             QFile rewrite(file);
             ASSERT_TRUE(rewrite.open(QIODevice::ReadWrite));
             rewrite.write("X");
             ASSERT_TRUE(rewrite.setFileTime(time, QFileDevice::FileModificationTime));
         }},
    };
    for (const auto& [what, change] : changes) {
        const QString file = path("e.nc");
        faults::Write(file, "old program");
        const FileIdentity read = SendSource::Identify(file);
        change(file);
        const QByteArray now = faults::Read(file);
        EXPECT_TRUE(outbox.MarkSent(file, read, Sha256("old program"), &changed, &error).isEmpty())
            << what;
        EXPECT_TRUE(changed) << what;
        EXPECT_EQ(faults::Read(file), now) << what;
        EXPECT_EQ(outbox.Queue(later.addSecs(5)), QStringList{file}) << what << ": stays queued";
        QFile::remove(file);
    }

    // Links are never queued, and named once.
    QTemporaryDir elsewhere;
    faults::Write(elsewhere.filePath("secret"), "not a program");
    ASSERT_TRUE(QFile::link(elsewhere.filePath("secret"), path("link.nc")));
    EXPECT_EQ(outbox.Queue(later), QStringList());
    EXPECT_EQ(outbox.TakeNewLinks(), QStringList{path("link.nc")});
    EXPECT_EQ(outbox.Queue(later), QStringList());
    EXPECT_EQ(outbox.TakeNewLinks(), QStringList());
    QFile::remove(path("link.nc"));
    // A taken name is passed over, never replaced.
    faults::Write(path("c.nc"), "c");
    faults::Write(path("d.nc"), "d");
    EXPECT_EQ(MoveToFreeName(path("c.nc"), path("sent"), "O1.nc", &error), path("sent/O1.nc"));
    EXPECT_EQ(MoveToFreeName(path("d.nc"), path("sent"), "O1.nc", &error), path("sent/O1001.nc"));
    EXPECT_EQ(faults::Read(path("sent/O1.nc")), "c");
    EXPECT_EQ(outbox.Queue(later), QStringList());

    // A move from another file system (where there is one) refuses, replaces
    // or takes a free name as asked, and leaves no temporary copy behind.
    QTemporaryDir shm("/dev/shm/tapeway-XXXXXX");
    const QTemporaryDir& from = shm.isValid() ? shm : dir;
    for (const auto& [name, onTaken, moved, content] :
         {std::tuple{"O1.nc", OnTaken::Refuse, "", "c"},
          std::tuple{"O1.nc", OnTaken::Replace, "sent/O1.nc", "moved 1"},
          std::tuple{"O1.nc", OnTaken::NextFreeName, "sent/O1002.nc", "moved 2"}}) {
        const QString source = from.filePath("m.nc");
        faults::Write(source, content == QByteArray("c") ? "refused" : content);
        const QString placed = MoveFile(source, path("sent"), name, onTaken, &error);
        EXPECT_EQ(placed, *moved ? path(moved) : QString()) << error.toStdString();
        EXPECT_EQ(QFileInfo::exists(source), !*moved);
        EXPECT_EQ(faults::Read(path(*moved ? moved : "sent/O1.nc")), content);
    }
    EXPECT_EQ(
        QDir(path("sent")).entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\.")),
        QStringList());
}

// What a machine gets is the outbox file as it is when the machine asks,
// and only that file moves to sent/. Each line holds its a.nc, waiting for
// the machine, when the file is replaced, removed, turned into a link or
// grows during the send; a receive line loses its inbox mid-program.
TEST(CliServe, OutboxSendsWhatIsThereWhenTheMachineAsks)
{
    Service s;
    QString sections;
    for (const QString name : {"Replaced", "Deleted", "Linked", "Paused"})
        sections += s.Section(name, "send");
    sections += s.Section("Kept", "receive");
    const QByteArray before = Program("O1", 1500, 1), after = Program("O2", 1200, 2);
    const QByteArray later = Program("O3", 900, 3), partial = Program("O4", 5000, 4);
    QTemporaryDir elsewhere;
    const QString secret = elsewhere.filePath("secret");
    faults::Write(secret, "root:$6$not-for-a-machine\n");
    for (const QString name : {"Replaced", "Deleted", "Linked", "Paused"})
        s.Queue(name, "a.nc", name == "Paused" ? partial : before);
    ASSERT_TRUE(QFile::link(secret, s.Path("Linked/out/z.nc")));
    s.Start(sections);
    for (const QString name : {"Replaced", "Deleted", "Linked", "Paused"})
        ASSERT_TRUE(WaitFor([&] { return s.Line(name).value("file").toString() == "a.nc"; }, 30000))
            << name.toStdString() << s.process.err.toStdString();
    ASSERT_TRUE(s.process.WaitForText("Linked: " + s.Path("Linked/out/z.nc") +
                                      " is a symbolic link and is not sent"));

    // The office replaces, removes, links while the lines wait.
    const auto replace = [&](const QString& name, const std::function<void(const QString&)>& make) {
        const QString temporary = s.Path(name + "/out/.a.nc.new");
        make(temporary);
        ASSERT_EQ(
            ::rename(QFile::encodeName(temporary), QFile::encodeName(s.Path(name + "/out/a.nc"))),
            0);
    };
    replace("Replaced", [&](const QString& file) { faults::Write(file, after); });
    replace("Linked", [&](const QString& file) { ASSERT_TRUE(QFile::link(secret, file)); });
    ASSERT_TRUE(QFile::remove(s.Path("Deleted/out/a.nc")));
    for (const QString name : {"Deleted", "Linked"})
        s.Queue(name, "b.nc", later);
    for (const QString name : {"Deleted", "Linked"})
        ASSERT_TRUE(WaitFor([&] { return s.Line(name).value("queue").toInt() == 1; }, 10000));
    for (const QString name : {"Replaced", "Deleted", "Linked", "Paused"})
        s.machines[name].Run({"receive", s.Path(name + "/got"), "--count", "1"});

    // The writer of Paused goes on after the line has read its file.
    ASSERT_TRUE(s.WaitState("Paused", "sending"));
    {
        QFile file(s.Path("Paused/out/a.nc"));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("N9999 M30\n");
    }

    // Kept: the inbox goes while a program arrives.
    const QByteArray punched = Program("O4321", 5000, 5);
    faults::Write(s.Path("punched.nc"), punched);
    s.machines["Kept"].Run({"send", "--baud", "9600", s.Path("punched.nc")});
    ASSERT_TRUE(s.WaitState("Kept", "receiving"));
    ASSERT_TRUE(QDir(s.Path("Kept/in")).removeRecursively());

    for (const QString name : {"Replaced", "Deleted", "Linked", "Paused", "Kept"}) {
        ASSERT_TRUE(s.machines[name].Done()) << name.toStdString();
        EXPECT_EQ(s.machines[name].controller->ExitCode(), 0) << name.toStdString();
    }
    ASSERT_TRUE(s.process.WaitForText("Kept: the program arrived whole"));
    ASSERT_TRUE(s.process.WaitForText(
        QStringLiteral("Paused: sent a.nc (%1 bytes, SHA-256 ").arg(partial.size()) +
        Sha256(partial).toHex() + ", in "));
    for (const QString done : {"Replaced: sent a.nc", "Deleted: sent b.nc", "Linked: sent b.nc"})
        ASSERT_TRUE(s.process.WaitForText(done));

    EXPECT_EQ(faults::Read(s.Path("Paused/out/a.nc")), partial + "N9999 M30\n");
    EXPECT_TRUE(s.process.err.contains("Deleted: a.nc cannot be sent"));

    // A visible name for the copy Kept could not save, and the log names it.
    const QDir recovered(qEnvironmentVariable("XDG_DATA_HOME") + "/tapeway/recovered");
    const QStringList kept = recovered.entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(kept.size(), 1) << kept.join(' ').toStdString();
    EXPECT_TRUE(kept[0].startsWith("Kept-") && kept[0].endsWith("-O4321.nc"));
    EXPECT_EQ(faults::Read(recovered.filePath(kept[0])), punched);
    EXPECT_TRUE(s.process.err.contains("it is kept in " + recovered.filePath(kept[0])));

    // What each machine got is what sent/ (or the outbox, when the file
    // changed) holds, and its digest is the journal's.
    ASSERT_TRUE(s.process.Signal(SIGTERM));
    ASSERT_TRUE(s.process.Wait(10000));
    QString error;
    std::map<QString, QStringList> journal;
    for (const TransferRecord& record :
         SqlJournal(*JournalLocation::Parse("sqlite:" + s.Path("run/journal.sqlite")))
             .Find({}, &error)
             .value_or(QList<TransferRecord>())) {
        if (record.outcome == "sent")
            journal[record.line] << record.sha256 + ' ' + QFileInfo(record.path).fileName();
    }
    for (const auto& [name, data, file] :
         {std::tuple{"Replaced", after, "a.nc"}, std::tuple{"Deleted", later, "b.nc"},
          std::tuple{"Linked", later, "b.nc"}, std::tuple{"Paused", partial, ""}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(faults::Read(s.Path(QString(name) + "/got/O0001.nc")), data);
        const QDir sent(s.Path(QString(name) + "/out/sent"));
        const QStringList moved = sent.entryList(QDir::Files);
        ASSERT_EQ(moved.size(), *file ? 1 : 0);
        if (*file) {
            EXPECT_TRUE(moved[0].endsWith(QStringLiteral("-") + file));
            EXPECT_EQ(faults::Read(sent.filePath(moved[0])), data);
        }
        EXPECT_EQ(journal[name],
                  QStringList{Sha256(data).toHex() + ' ' + moved.value(0, QStringLiteral("a.nc"))});
    }
}

// Tape lines: a receive line saves what the machine punches, a send line
// answers the machine's READ key (its XON) with the outbox's file, and a line
// of both takes a punch and then answers an XON; every record says tape.
TEST(CliServe, TapeLinesTakeAPunchAndAnswerTheReadKey)
{
    Service s;
    const QString tape = "Protocol=tape\nProfile=Fanuc ISO\nStartOn=xon\n";
    const QString sections = s.Section("Punch", "receive") + tape + s.Section("Read", "send") +
                             tape + s.Section("Both", "both") + tape;
    const QByteArray punched = Program("O4321", 2000, 1), punched2 = Program("O4322", 1500, 2);
    const QByteArray queued = Program("O1000", 1800, 3), queued2 = Program("O2000", 1200, 4);
    faults::Write(s.Path("punched.nc"), punched);
    faults::Write(s.Path("punched2.nc"), punched2);
    s.Queue("Read", "a.nc", queued);
    s.Queue("Both", "b.nc", queued2);
    // A program the code cannot carry leaves the queue; the next one goes.
    s.Queue("Read", "0-refused.nc", "O0001\n(\xe4\xb8\xad)\nM30\n");
    s.Start(sections);
    for (const QString name : {"Punch", "Both"})
        ASSERT_TRUE(s.WaitState(name, "waiting"))
            << name.toStdString() << s.process.err.toStdString();
    ASSERT_TRUE(WaitFor([&] { return s.Line("Read").value("file").toString() == "a.nc"; }, 30000));
    EXPECT_EQ(s.Line("Read").value("protocol").toString(), "tape");
    EXPECT_EQ(s.Line("Read").value("profile").toString(), "Fanuc ISO");

    const QStringList machine = {"--protocol", "tape", "--profile", "Fanuc ISO", "--baud", "9600"};
    s.machines["Punch"].Run(machine + QStringList{"punch", s.Path("punched.nc")});
    s.machines["Read"].Run(machine + QStringList{"--start-on", "xon", "read", s.Path("Read/got"),
                                                 "--count", "1", "--hold-after", "900",
                                                 "--hold-seconds", "3"});
    s.machines["Both"].Run(machine + QStringList{"punch", s.Path("punched2.nc")});
    // The reader holds the line a while: the status says the machine holds
    // it, and where the feed stands.
    ASSERT_TRUE(WaitFor(
        [&] {
            const QJsonObject feed = s.Line("Read").value("feed").toObject();
            return feed.value("held").toBool() && feed.value("line").toInt() > 1 &&
                   feed.value("lines").toInt() > feed.value("line").toInt();
        },
        30000))
        << QJsonDocument(s.Line("Read")).toJson().toStdString();
    for (const QString name : {"Punch", "Read", "Both"}) {
        ASSERT_TRUE(s.machines[name].Done()) << name.toStdString();
        EXPECT_EQ(s.machines[name].controller->ExitCode(), 0)
            << name.toStdString() << s.machines[name].controller->err.toStdString();
    }
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(s.Path("Both/in/O4322.nc")); }, 20000));
    ASSERT_TRUE(s.WaitState("Both", "waiting"));
    s.machines["Both"].Run(
        machine + QStringList{"--start-on", "xon", "read", s.Path("Both/got"), "--count", "1"});
    ASSERT_TRUE(s.machines["Both"].Done());
    EXPECT_EQ(s.machines["Both"].controller->ExitCode(), 0)
        << s.machines["Both"].controller->err.toStdString();

    EXPECT_EQ(faults::Read(s.Path("Punch/in/O4321.nc")), punched);
    EXPECT_EQ(faults::Read(s.Path("Both/in/O4322.nc")), punched2);
    EXPECT_EQ(faults::Read(s.Path("Read/got/O1000.nc")), queued);
    EXPECT_EQ(faults::Read(s.Path("Both/got/O2000.nc")), queued2);
    for (const QString name : {"Read", "Both"})
        ASSERT_TRUE(WaitFor(
            [&] { return QDir(s.Path(name + "/out/sent")).entryList(QDir::Files).size() == 1; },
            10000))
            << name.toStdString();
    EXPECT_TRUE(WaitFor([&] { return !s.Line("Read").contains("feed"); }, 10000));
    EXPECT_TRUE(WaitFor(
        [&] { return QDir(s.Path("Read/out/failed")).entryList({"*-0-refused.nc"}).size() == 1; },
        10000));

    ASSERT_TRUE(s.process.Signal(SIGTERM));
    ASSERT_TRUE(s.process.Wait(10000));
    QString error;
    QStringList records;
    for (const TransferRecord& record :
         SqlJournal(*JournalLocation::Parse("sqlite:" + s.Path("run/journal.sqlite")))
             .Find({}, &error)
             .value_or(QList<TransferRecord>()))
        records << record.line + ' ' + record.outcome + ' ' + record.protocol + ' ' +
                       record.profile;
    records.sort();
    EXPECT_EQ(records, QStringList({"Both received tape Fanuc ISO", "Both sent tape Fanuc ISO",
                                    "Punch received tape Fanuc ISO", "Read sent tape Fanuc ISO"}))
        << error.toStdString();
}

// The machine asks from its panel: a request program is never saved, and
// what it asks for goes at the machine's next reads, from the library, in
// place. A packet line answers its DC2s with a program by number, a
// pattern's matches in name order and replies for a name the library does
// not hold and one outside it; a tape line feeds a program from a block,
// preamble included, and the library's list at its READ keys.
TEST(CliServe, RequestsFromThePanelAreAnsweredAtTheNextRead)
{
    Service s;
    const QString tape = "Protocol=tape\nProfile=Fanuc ISO\nStartOn=xon\n";
    const QString sections = s.Section("Pk", "receive") + "Library=Pk/lib\n" +
                             s.Section("Tp", "receive") + tape + "Library=Tp/lib\n";
    const QByteArray o1234 = Program("O1234", 700, 1), o1201 = Program("O1201", 600, 2);
    const QByteArray o5 = Program("O5", 2000, 5);
    for (const QString name : {"Pk", "Tp"})
        QDir().mkpath(s.Path(name + "/lib"));
    for (const auto& [file, data] :
         {std::pair{"Pk/lib/O1234.nc", o1234}, std::pair{"Pk/lib/O1201.nc", o1201},
          std::pair{"Pk/lib/other.nc", Program("O7", 300, 7)}, std::pair{"Tp/lib/O5.nc", o5}})
        faults::Write(s.Path(file), data);
    faults::Write(s.Path("ask-pk.nc"),
                  "%\nO9999\n(SEND O1234)\n(SEND O12*)\n(SEND NOPE.NC)\n(SEND ../lines.ini)\n%\n");
    faults::Write(s.Path("ask-tp.nc"), "%\nO9999 (FROM THE PANEL)\n(DNC O5 N30)\n(LIST)\n%\n");
    s.Start(sections);
    for (const QString name : {"Pk", "Tp"})
        ASSERT_TRUE(s.WaitState(name, "waiting")) << s.process.err.toStdString();

    const QStringList machine = {"--protocol", "tape", "--profile", "Fanuc ISO", "--baud", "9600"};
    s.machines["Pk"].Run({"send", "--baud", "9600", s.Path("ask-pk.nc")});
    s.machines["Tp"].Run(machine + QStringList{"punch", s.Path("ask-tp.nc")});
    for (const QString name : {"Pk", "Tp"}) {
        ASSERT_TRUE(s.machines[name].Done()) << name.toStdString();
        ASSERT_TRUE(WaitFor([&] { return s.Line(name).value("asked").toInt() > 0; }, 20000))
            << name.toStdString();
    }
    EXPECT_EQ(s.Line("Pk").value("asked").toInt(), 5);
    EXPECT_EQ(s.Line("Pk").value("request").toString(),
              "request O9999: SEND O1234 -> O1234.nc; SEND O12* -> O1201.nc, O1234.nc; SEND "
              "NOPE.NC -> reply O9998 (NOT FOUND NOPE.NC); SEND ../lines.ini -> reply O9998 "
              "(REFUSED ../lines.ini)");
    ASSERT_TRUE(s.WaitState("Pk", "waiting"));
    ASSERT_TRUE(s.WaitState("Tp", "waiting"));
    s.machines["Pk"].Run({"receive", s.Path("Pk/got"), "--count", "5"});
    s.machines["Tp"].Run(
        machine + QStringList{"--start-on", "xon", "read", s.Path("Tp/got"), "--count", "2"});
    for (const QString name : {"Pk", "Tp"}) {
        ASSERT_TRUE(s.machines[name].Done(120000)) << name.toStdString();
        EXPECT_EQ(s.machines[name].controller->ExitCode(), 0)
            << name.toStdString() << s.machines[name].controller->err.toStdString();
    }
    const auto got = [&](const QString& file) { return faults::Read(s.Path(file)); };
    EXPECT_EQ(got("Pk/got/O0001.nc"), o1234);
    EXPECT_EQ(got("Pk/got/O0002.nc"), o1201);
    EXPECT_EQ(got("Pk/got/O0003.nc"), o1234);
    EXPECT_EQ(got("Pk/got/O0004.nc"), "%\nO9998 (NOT FOUND NOPE.NC)\n%\n");
    EXPECT_EQ(got("Pk/got/O0005.nc"), "%\nO9998 (REFUSED ../lines.ini)\n%\n");
    // The feed from N30: '%', the program's preamble, then the program from that block.
    EXPECT_EQ(got("Tp/got/O0005.nc"), "%\nO5 (PART 5)\n" + o5.mid(o5.indexOf("\nN30 ") + 1));
    EXPECT_EQ(got("Tp/got/O9998.nc"), "%\nO9998 (LIBRARY 1)\n(O5.nc O5)\n%\n");

    // The library keeps its files, the inboxes hold no request, no reply is left.
    for (const QString file : {"Pk/lib/O1234.nc", "Pk/lib/O1201.nc", "Tp/lib/O5.nc"})
        EXPECT_TRUE(QFileInfo::exists(s.Path(file))) << file.toStdString();
    for (const QString name : {"Pk", "Tp"})
        EXPECT_EQ(QDir(s.Path(name + "/in")).entryList(QDir::Files), QStringList());
    ASSERT_TRUE(WaitFor([&] { return s.Line("Pk").value("asked").toInt() == 0; }, 10000));
    EXPECT_TRUE(s.process.WaitForText("Pk: the machine asks for SEND NOPE.NC, which the library " +
                                      s.Path("Pk/lib") + " does not hold"));
    EXPECT_TRUE(s.process.WaitForText("Pk: the machine asks for SEND ../lines.ini, a name "
                                      "outside the library: refused"));
    ASSERT_TRUE(s.process.Signal(SIGTERM));
    ASSERT_TRUE(s.process.Wait(10000));
    const QString replies = qEnvironmentVariable("XDG_DATA_HOME") + "/tapeway/replies";
    EXPECT_EQ(QDir(replies).entryList(QDir::Files), QStringList());

    // The journal: the request as a receive whose detail says what it asked,
    // then each file sent with where it is, a feed with its block.
    QString error;
    std::map<QString, QStringList> journal;
    for (const TransferRecord& record :
         SqlJournal(*JournalLocation::Parse("sqlite:" + s.Path("run/journal.sqlite")))
             .Find({}, &error)
             .value_or(QList<TransferRecord>()))
        journal[record.line] << record.outcome + ' ' + QFileInfo(record.path).fileName() +
                                    (record.receive ? ' ' + record.detail : QString()) +
                                    record.StartText();
    for (auto& [line, entries] : journal)
        entries.sort();
    ASSERT_EQ(journal["Tp"].size(), 3) << journal["Tp"].join('\n').toStdString();
    EXPECT_EQ(journal["Tp"][0],
              "received lib request O9999: DNC O5 N30 -> O5.nc; LIST -> reply O9998 (LIBRARY 1)");
    EXPECT_TRUE(journal["Tp"][1].startsWith("sent O5.nc") && journal["Tp"][1].contains("N30"))
        << journal["Tp"][1].toStdString();
    EXPECT_TRUE(journal["Tp"][2].startsWith("sent Tp-O9998-")) << journal["Tp"][2].toStdString();
    EXPECT_EQ(journal["Pk"].size(), 6) << journal["Pk"].join('\n').toStdString();
}

// While many lines run at once every transfer stays at 9600 baud: on a
// loaded two-core machine a starved null-modem thread may put a speed
// change inside a byte's wire time and garble it, which the single-line
// tests at each speed already cover. The lines that come back alone switch
// to 38400.
TEST(CliServe, ManyLinesAtOnceThroughBreaksReloadAndStop)
{
    Service s;
    QString sections;
    for (const auto& [name, mode] :
         {std::pair{"R1", "receive"}, std::pair{"R2", "receive"}, std::pair{"S1", "send"},
          std::pair{"S2", "send"}, std::pair{"B1", "both"}, std::pair{"B2", "both"},
          std::pair{"X", "receive"}})
        sections += s.Section(name, mode);

    // Punched programs, one name already taken; queued files for the readers.
    std::map<QString, QList<QByteArray>> punched, queued;
    for (const QString name : {"R1", "R2", "B1", "B2"}) {
        const int seed = name.back().digitValue() + (name[0] == 'B' ? 10 : 0);
        punched[name] = {Program(QStringLiteral("O%1").arg(1000 + seed), 3000, seed),
                         Program(name == "R2" ? "" : "O77", 1500, seed + 50)};
    }
    faults::Write(s.Path("R1/in/O1001.nc"), "an older program");
    for (const QString name : {"S1", "S2", "B1", "B2"}) {
        queued[name] = {Program("O5", 2500, name.size() + name.back().unicode()),
                        Program("O6", 900, name.back().unicode())};
        s.Queue(name, "a.nc", queued[name][0]);
        s.Queue(name, "b.nc", queued[name][1]);
    }
    s.Start(sections);
    ASSERT_TRUE(s.WaitState("X", "waiting")) << s.process.err.toStdString();

    // X: the cable goes mid-file.
    const QByteArray big = Program("O4242", 6000, 9);
    faults::Write(s.Path("big.nc"), big);
    s.machines["X"].Run({"send", "--baud", "9600", s.Path("big.nc")});
    for (const auto& [name, files] : punched) {
        for (int i = 0; i < files.size(); ++i)
            faults::Write(s.Path(QStringLiteral("%1-p%2.nc").arg(name).arg(i)), files[i]);
        s.machines[name].Run(
            {"send", "--baud", "9600", s.Path(name + "-p0.nc"), s.Path(name + "-p1.nc")});
    }
    for (const QString name : {"S1", "S2"})
        s.machines[name].Run({"receive", s.Path(name + "/got"), "--count", "2"});
    ASSERT_TRUE(s.WaitState("X", "receiving"));
    s.machines["X"].Unplug();
    ASSERT_TRUE(s.WaitState("X", "error", 10000));
    EXPECT_FALSE(s.Line("X").value("error").toString().isEmpty());
    EXPECT_FALSE(s.Line("X").value("last").toObject().value("ok").toBool(true));

    // The others finish untouched; the both lines are read from afterwards.
    for (const QString name : {"R1", "R2", "S1", "S2", "B1", "B2"}) {
        ASSERT_TRUE(s.machines[name].Done()) << name.toStdString();
        EXPECT_EQ(s.machines[name].controller->ExitCode(), 0)
            << name.toStdString() << s.machines[name].controller->err.toStdString();
    }
    for (const QString name : {"B1", "B2"})
        s.machines[name].Run({"receive", s.Path(name + "/got"), "--count", "2"});
    for (const QString name : {"B1", "B2"}) {
        ASSERT_TRUE(s.machines[name].Done()) << name.toStdString();
        EXPECT_EQ(s.machines[name].controller->ExitCode(), 0) << name.toStdString();
    }

    // X comes back: the same program arrives whole.
    s.machines["X"].Plug();
    ASSERT_TRUE(s.WaitState("X", "waiting", 20000));
    s.machines["X"].Run({"send", "--baud", "38400", s.Path("big.nc")});
    ASSERT_TRUE(s.machines["X"].Done());
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(s.Path("X/in/O4242.nc")); }, 10000));
    EXPECT_EQ(faults::Read(s.Path("X/in/O4242.nc")), big);

    // Every file whole and where it belongs, named by its program number.
    const auto in = [&](const QString& line, const QString& file) {
        return faults::Read(s.Path(line + "/in/" + file));
    };
    EXPECT_EQ(in("R1", "O1001.nc"), "an older program");
    EXPECT_EQ(in("R1", "O1001001.nc"), punched["R1"][0]);
    EXPECT_EQ(in("R1", "O77.nc"), punched["R1"][1]);
    EXPECT_EQ(in("R2", "O1002.nc"), punched["R2"][0]);
    const QStringList unnamed = QDir(s.Path("R2/in")).entryList({"R2-*.nc"});
    ASSERT_EQ(unnamed.size(), 1);
    EXPECT_EQ(in("R2", unnamed[0]), punched["R2"][1]);
    for (const QString name : {"B1", "B2"}) {
        EXPECT_EQ(in(name, QStringLiteral("O10%1.nc").arg(name.back().digitValue() + 10)),
                  punched[name][0]);
        EXPECT_EQ(in(name, "O77.nc"), punched[name][1]);
    }
    for (const QString name : {"S1", "S2", "B1", "B2"}) {
        EXPECT_EQ(faults::Read(s.Path(name + "/got/O0001.nc")), queued[name][0]);
        EXPECT_EQ(faults::Read(s.Path(name + "/got/O0002.nc")), queued[name][1]);
        const QStringList sent = QDir(s.Path(name + "/out/sent")).entryList(QDir::Files);
        ASSERT_EQ(sent.size(), 2) << name.toStdString();
        EXPECT_TRUE(sent[0].endsWith("-a.nc") && sent[1].endsWith("-b.nc"));
        EXPECT_EQ(QDir(s.Path(name + "/out")).entryList(QDir::Files), QStringList());
    }

    // SIGHUP adds a line.
    faults::Write(s.config, (sections + s.Section("Added", "receive")).toUtf8());
    ASSERT_TRUE(s.process.Signal(SIGHUP));
    ASSERT_TRUE(s.WaitState("Added", "waiting"));
    s.machines["Added"].Run({"send", "--baud", "38400", s.Path("big.nc")});
    ASSERT_TRUE(s.machines["Added"].Done());
    ASSERT_TRUE(WaitFor([&] { return !in("Added", "O4242.nc").isEmpty(); }, 10000));
    EXPECT_EQ(in("Added", "O4242.nc"), big);

    // The table names every line.
    CliProcess status({"status", "--config", s.config, "--runtime-dir", s.Path("run")});
    ASSERT_TRUE(status.Wait());
    EXPECT_EQ(status.ExitCode(), 0);
    EXPECT_EQ(status.OutLines().size(), 9) << status.out.toStdString();

    // SIGTERM mid-transfer in both directions: no partial or placeholder file
    // (a line's target never exists beforehand, so no staging file is made).
    const QStringList before =
        faults::Listing(s.dir.path()).filter(QRegularExpression("^(?!run/)(?!.*\\.receiving)"));
    const QByteArray huge = Program("O9", 20000, 3);
    s.Queue("S1", "c.nc", huge);
    s.machines["S1"].Run({"receive", s.Path("S1/got2"), "--count", "1"});
    s.machines["R1"].Run({"send", "--baud", "9600", s.Path("big.nc")});
    ASSERT_TRUE(s.WaitState("R1", "receiving"));
    ASSERT_TRUE(s.WaitState("S1", "sending"));
    ASSERT_TRUE(s.process.Signal(SIGTERM));
    ASSERT_TRUE(s.process.Wait(10000));
    EXPECT_EQ(s.process.ExitCode(), 0) << s.process.err.toStdString();
    QStringList after = faults::Listing(s.dir.path());
    after.removeAll("S1/out/c.nc " + QString::number(huge.size()));
    after.removeAll("S1/got2/");
    EXPECT_EQ(after.filter(QRegularExpression("^(?!run/)")).join('\n').toStdString(),
              before.join('\n').toStdString());
    EXPECT_EQ(s.Line("R1").value("state").toString(), "stopped");

    // The journal has every transfer once, with its line's name and where the file is now.
    QString error;
    const auto records =
        SqlJournal(*JournalLocation::Parse("sqlite:" + s.Path("run/journal.sqlite")))
            .Find({}, &error)
            .value_or(QList<TransferRecord>());
    ASSERT_FALSE(records.isEmpty()) << error.toStdString();
    std::map<QString, QStringList> journal;
    for (const TransferRecord& record : records)
        journal[record.line] << record.outcome + ' ' + QFileInfo(record.path).fileName();
    for (auto& [line, entries] : journal)
        entries.sort();
    const auto entries = [&](const QString& line) {
        return journal[line].join(", ").toStdString();
    };
    EXPECT_EQ(journal["R1"],
              (QStringList{"cancelled in", "received O1001001.nc", "received O77.nc"}));
    EXPECT_EQ(journal["X"], (QStringList{"link_broken in", "received O4242.nc"}));
    ASSERT_EQ(journal["S2"].size(), 2) << entries("S2");
    EXPECT_TRUE(journal["S2"][0].startsWith("sent ") && journal["S2"][0].endsWith("-a.nc"));
    EXPECT_EQ(journal["S1"].first(), "cancelled c.nc") << entries("S1");
}

// The status is the service's own and says whether it runs: a fallback
// runtime folder that someone else could have prepared is refused, the file
// is written only through a fresh name, and a killed service is not running.
TEST(CliServe, StatusIsTheServicesOwnAndTrue)
{
    QTemporaryDir dir;
    const auto path = [&](const QString& name) { return QDir(dir.path()).filePath(name); };
    QDir(dir.path()).mkpath("in");
    QDir(dir.path()).mkpath("tmp");
    const QString config = path("lines.ini");
    faults::Write(config, "[A]\nPort=/dev/tapeway-no-such-port\nMode=receive\nInbox=in\n");
    // No runtime folder known: the service falls back to <TMPDIR>/tapeway-UID.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.remove("RUNTIME_DIRECTORY");
    env.insert("TMPDIR", path("tmp"));
    const QString fallback = path(QStringLiteral("tmp/tapeway-%1").arg(::getuid()));
    const QByteArray folder = QFile::encodeName(fallback);
    const auto run = [&](CliProcess& cli, const QStringList& args) {
        cli.process.setProcessEnvironment(env);
        cli.Start(args + QStringList{"--config", config});
    };
    const auto mode = [](const QString& file) {
        struct stat info
        {
        };
        return ::lstat(QFile::encodeName(file).constData(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };

    // Folders another user may have made: a link, an open mode, someone else's.
    QDir().mkdir(path("elsewhere"));
    const QList<std::pair<std::function<bool()>, QString>> rows = {
        {[&] { return QFile::link(path("elsewhere"), fallback); }, "symbolic link"},
        {[&] { return ::mkdir(folder.constData(), 0755) == 0 && ::chmod(folder, 0755) == 0; },
         "mode is 0755"},
        {[&] { return ::mkdir(folder.constData(), 0700) == 0 && ::chown(folder, 12345, -1) == 0; },
         "belongs to user 12345"},
    };
    for (const auto& [prepare, reason] : rows) {
        QFile::remove(fallback);
        QDir(fallback).removeRecursively();
        if (!prepare()) { // giving a folder away takes root
            std::cerr << "row not run without root: " << reason.toStdString() << "\n";
            continue;
        }
        CliProcess refused;
        run(refused, {"serve", "--journal", "off"});
        EXPECT_TRUE(refused.Wait(10000)) << "it started";
        EXPECT_EQ(refused.ExitCode(), 2) << refused.err.toStdString();
        EXPECT_TRUE(refused.err.contains(fallback + ": refused") && refused.err.contains(reason))
            << refused.err.toStdString();
    }
    EXPECT_TRUE(QDir(path("elsewhere")).isEmpty());

    // An own folder with a link planted at a name the status might be
    // written through: the file it points to keeps its content and mode.
    QFile::remove(fallback);
    QDir(fallback).removeRecursively();
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    const QString status = fallback + "/lines.status.json";
    faults::Write(path("victim"), "not the status");
    ::chmod(QFile::encodeName(path("victim")).constData(), 0600);
    QFile::link(path("victim"), status + ".new");
    CliProcess service;
    run(service, {"serve", "--journal", "off"});
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(status).isFile(); }, 10000))
        << service.err.toStdString();
    EXPECT_EQ(faults::Read(path("victim")), "not the status");
    EXPECT_EQ(mode(path("victim")), 0600u);
    EXPECT_EQ(mode(status), 0644u);

    // Running: the table, exit 0. Killed: not running (in both languages),
    // exit 3, never the state it was left in. A status naming a live process
    // that started at another time is not the service's either.
    CliProcess running;
    run(running, {"status"});
    ASSERT_TRUE(running.Wait());
    EXPECT_EQ(running.ExitCode(), 0) << running.err.toStdString();
    EXPECT_TRUE(running.out.contains("tapeway-no-such-port")) << running.out.toStdString();
    ASSERT_TRUE(service.Signal(SIGKILL));
    ASSERT_TRUE(service.Wait(10000));
    for (const auto& [language, words] :
         {std::pair{"en", "the service is not running"}, std::pair{"zh", "服务未运行"}}) {
        CliProcess gone;
        run(gone, {"--lang", language, "status"});
        ASSERT_TRUE(gone.Wait());
        EXPECT_EQ(gone.ExitCode(), 3) << gone.err.toStdString();
        EXPECT_TRUE(gone.err.contains(QString::fromUtf8(words))) << gone.err.toStdString();
        EXPECT_EQ(gone.out, QString()) << "no state of a dead service";
    }
    QJsonObject forged = QJsonDocument::fromJson(faults::Read(status)).object();
    forged["service"] = QJsonObject{
        {"pid", QCoreApplication::applicationPid()}, {"process_start", 1}, {"running", true}};
    faults::Write(status, QJsonDocument(forged).toJson());
    CliProcess reused;
    run(reused, {"status"});
    ASSERT_TRUE(reused.Wait());
    EXPECT_EQ(reused.ExitCode(), 3) << reused.out.toStdString();
}

// The diff that approve asks to look at: hunks with three lines of context,
// joined when close, a side without lines named by the line before it; line
// ends are no change. And the names the commands take.
TEST(CliServe, LineDiffAndPlainNames)
{
    const auto lines = [](int from, int to, const std::map<int, QByteArray>& changed = {}) {
        QByteArray text;
        for (int n = from; n <= to; ++n)
            text += (changed.count(n) ? changed.at(n) : QByteArray::number(n)) + '\n';
        return text;
    };
    const QList<std::tuple<QByteArray, QByteArray, QString>> rows = {
        {lines(1, 10), lines(1, 10), ""},
        {lines(1, 10), lines(1, 10).replace("\n", "\r\n"), ""},
        {lines(1, 10), lines(1, 10, {{5, "five"}}),
         "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-5\n+five\n 6\n 7\n 8\n"},
        {"", "a\nb\n", "@@ -0,0 +1,2 @@\n+a\n+b\n"},
        {"a\nb\n", "", "@@ -1,2 +0,0 @@\n-a\n-b\n"},
        {"1\n2\n3\n", "1\n2\nnew\n3", "@@ -1,3 +1,4 @@\n 1\n 2\n+new\n 3\n"},
        {lines(1, 20), lines(1, 20, {{2, "X"}, {19, "Y"}}),
         "@@ -1,5 +1,5 @@\n 1\n-2\n+X\n 3\n 4\n 5\n@@ -16,5 +16,5 @@\n 16\n 17\n 18\n-19\n+Y\n "
         "20\n"},
        {lines(1, 10), lines(1, 10, {{3, "C"}, {8, "H"}}),
         "@@ -1,10 +1,10 @@\n 1\n 2\n-3\n+C\n 4\n 5\n 6\n 7\n-8\n+H\n 9\n 10\n"},
    };
    for (const auto& [from, to, hunks] : rows) {
        const QString diff = UnifiedDiff(from, to, "lib/O1.nc", "pending/O1.nc");
        EXPECT_EQ(diff, hunks.isEmpty() ? QString() : "--- lib/O1.nc\n+++ pending/O1.nc\n" + hunks)
            << from.toStdString() << "->" << to.toStdString();
    }
    // Past the search's limit the middle is replaced whole, still a true diff.
    QByteArray many, others;
    for (int n = 0; n < 3000; ++n) {
        many += "A" + QByteArray::number(n) + "\n";
        others += "B" + QByteArray::number(n) + "\n";
    }
    const QStringList big =
        UnifiedDiff("head\n" + many + "tail\n", "head\n" + others + "tail\n", "a", "b").split('\n');
    EXPECT_EQ(big[2], "@@ -1,3002 +1,3002 @@");
    EXPECT_EQ(big.filter(QRegularExpression("^-A")).size(), 3000);
    EXPECT_EQ(big.filter(QRegularExpression("^\\+B")).size(), 3000);

    for (const QString name : {"O1234.nc", "Lathe-3-20260501-080910.nc", "a b"})
        EXPECT_TRUE(Approval::IsPlainName(name)) << name.toStdString();
    for (const QString& name : QStringList{"", "../O1.nc", "a/b", "a\\b", ".hidden", "..", "x..y",
                                           QString("a") + QChar(0) + "b"})
        EXPECT_FALSE(Approval::IsPlainName(name)) << name.toStdString();
}

// With Approve=yes what a machine punches waits in pending/ until approve
// moves it into the library (over a version there only with --replace, after
// diff has shown it) or reject moves it to rejected/; both are journalled
// with both digests. A receive that fails leaves what arrived in failed/.
TEST(CliServe, ApprovalHoldsWhatMachinesPunch)
{
    Service s;
    QDir().mkpath(s.Path("lib"));
    const QString tape = "Protocol=tape\nProfile=Fanuc ISO\nIdle=2\n";
    const QString sections = s.Section("Checked", "receive") + "Approve=yes\nLibrary=lib\n" +
                             s.Section("Open", "receive") + "Approve=yes\n" +
                             s.Section("Cut", "receive") + tape;
    const QByteArray older = Program("O1234", 900, 1), newer = older + "N9999 M30\n";
    const QByteArray other = Program("O2000", 700, 2), cut = Program("O3000", 20000, 3);
    faults::Write(s.Path("lib/O1234.nc"), older);
    for (const auto& [file, data] :
         {std::pair{"newer.nc", newer}, std::pair{"other.nc", other}, std::pair{"cut.nc", cut}})
        faults::Write(s.Path(file), data);
    s.Start(sections);
    for (const QString name : {"Checked", "Open", "Cut"})
        ASSERT_TRUE(s.WaitState(name, "waiting")) << s.process.err.toStdString();
    s.machines["Checked"].Run({"send", "--baud", "9600", s.Path("newer.nc"), s.Path("other.nc")});
    s.machines["Open"].Run({"send", "--baud", "9600", s.Path("other.nc")});
    s.machines["Cut"].Run({"--protocol", "tape", "--profile", "Fanuc ISO", "--baud", "9600",
                           "punch", s.Path("cut.nc")});
    ASSERT_TRUE(WaitFor([&] { return s.Line("Cut").value("bytes").toInt() > 500; }, 30000))
        << s.process.err.toStdString();
    ASSERT_TRUE(s.machines["Cut"].controller->Signal(SIGKILL)); // the machine stops mid-tape
    for (const QString name : {"Checked", "Open"}) {
        ASSERT_TRUE(s.machines[name].Done()) << name.toStdString();
        EXPECT_EQ(s.machines[name].controller->ExitCode(), 0) << name.toStdString();
    }
    ASSERT_TRUE(
        WaitFor([&] { return QFileInfo::exists(s.Path("Checked/in/pending/O2000.nc")); }, 20000));
    ASSERT_TRUE(
        WaitFor([&] { return QFileInfo::exists(s.Path("Open/in/pending/O2000.nc")); }, 20000));
    EXPECT_EQ(faults::Read(s.Path("Checked/in/pending/O1234.nc")), newer);
    EXPECT_EQ(QDir(s.Path("Checked/in")).entryList(QDir::Files), QStringList());

    // What the cut tape brought is kept apart, named by line, time and outcome.
    const QDir failed(s.Path("Cut/in/failed"));
    ASSERT_TRUE(WaitFor([&] { return failed.entryList(QDir::Files).size() == 1; }, 20000))
        << s.process.err.toStdString();
    const QString kept = failed.entryList(QDir::Files).first();
    EXPECT_TRUE(QRegularExpression("^Cut-\\d{8}-\\d{6}-link_broken$").match(kept).hasMatch())
        << kept.toStdString();
    const QByteArray arrived = faults::Read(failed.filePath(kept));
    EXPECT_TRUE(arrived.size() > 500 && cut.startsWith(arrived.left(arrived.size() - 2)))
        << arrived.size();
    EXPECT_EQ(QDir(s.Path("Cut/in")).entryList(QDir::Files), QStringList());
    EXPECT_TRUE(s.process.WaitForText("Cut: what arrived before the receive failed is kept in " +
                                      failed.filePath(kept)));

    const auto cli = [&](const QStringList& args, CliProcess& run) {
        run.Start(args + QStringList{"--config", s.config, "--journal",
                                     "sqlite:" + s.Path("run/journal.sqlite")});
        return run.Wait() ? run.ExitCode() : -1;
    };
    struct Row
    {
        QStringList args;
        int exit;
        QString says; // on stderr
    };
    const QList<Row> refused = {
        {{"approve", "Checked", "O1234.nc"}, 4, "'tapeway-cli diff Checked O1234.nc' first"},
        {{"--lang", "zh", "approve", "Checked", "O1234.nc"}, 4, "再加 --replace 替换它"},
        {{"approve", "Open", "O2000.nc"}, 2, "the line \"Open\" has no library"},
        {{"approve", "Checked", "../lib/O1234.nc"}, 2, "is not a plain file name"},
        {{"reject", "Checked", ".O1234.nc"}, 2, "no leading '.'"},
        {{"diff", "Checked", "O9.nc"},
         4,
         "O9.nc is not waiting in " + s.Path("Checked/in/pending") +
             " (waiting: O1234.nc, O2000.nc)"},
        {{"reject", "Nowhere", "O1.nc"}, 2, "has no line \"Nowhere\" (lines: Checked, Open, Cut)"},
    };
    for (const Row& row : refused) {
        CliProcess run;
        EXPECT_EQ(cli(row.args, run), row.exit) << row.args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(row.says)) << run.err.toStdString();
    }
    EXPECT_EQ(faults::Read(s.Path("lib/O1234.nc")), older) << "refusals change nothing";

    CliProcess diff, approve, reject, fresh;
    EXPECT_EQ(cli({"diff", "Checked", "O1234.nc"}, diff), 0) << diff.err.toStdString();
    EXPECT_TRUE(diff.out.startsWith("--- " + s.Path("lib/O1234.nc") + "\n+++ " +
                                    s.Path("Checked/in/pending/O1234.nc") + "\n@@ -"))
        << diff.out.toStdString();
    EXPECT_TRUE(diff.out.contains("\n %\n+N9999 M30")) << diff.out.toStdString();
    EXPECT_EQ(cli({"approve", "--replace", "Checked", "O1234.nc"}, approve), 0)
        << approve.err.toStdString();
    EXPECT_EQ(approve.out.trimmed(), "approved\t" + s.Path("lib/O1234.nc"));
    EXPECT_EQ(faults::Read(s.Path("lib/O1234.nc")), newer);
    EXPECT_EQ(cli({"reject", "Checked", "O2000.nc"}, reject), 0) << reject.err.toStdString();
    EXPECT_EQ(faults::Read(s.Path("Checked/in/rejected/O2000.nc")), other);
    EXPECT_EQ(QDir(s.Path("Checked/in/pending")).entryList(QDir::Files), QStringList());
    EXPECT_EQ(cli({"diff", "Open", "O2000.nc"}, fresh), 0) << fresh.err.toStdString();
    EXPECT_TRUE(fresh.out.startsWith("--- /dev/null\n")) << fresh.out.toStdString();

    ASSERT_TRUE(s.process.Signal(SIGTERM));
    ASSERT_TRUE(s.process.Wait(10000));
    QString error;
    QStringList records;
    for (const TransferRecord& record :
         SqlJournal(*JournalLocation::Parse("sqlite:" + s.Path("run/journal.sqlite")))
             .Find({}, &error)
             .value_or(QList<TransferRecord>())) {
        if (record.line != "Open")
            records << QStringList{record.line, record.outcome, record.path, record.sha256,
                                   record.librarySha256}
                           .join(' ');
    }
    records.sort();
    const auto hex = [](const QByteArray& data) {
        return QString::fromLatin1(Sha256(data).toHex());
    };
    EXPECT_EQ(
        records,
        (QStringList{
            "Checked approved " + s.Path("lib/O1234.nc") + ' ' + hex(newer) + ' ' + hex(older),
            "Checked received " + s.Path("Checked/in/pending/O1234.nc") + ' ' + hex(newer) + ' ',
            "Checked received " + s.Path("Checked/in/pending/O2000.nc") + ' ' + hex(other) + ' ',
            "Checked rejected " + s.Path("Checked/in/rejected/O2000.nc") + ' ' + hex(other) + ' ',
            "Cut link_broken " + failed.filePath(kept) + "  "}))
        << error.toStdString();
}

} // namespace
