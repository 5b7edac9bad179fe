// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Ser2NetRig.h"
#include "support/TapePeer.h"

#include <QCoreApplication>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace tapeway;

namespace {

const QString kReceived = QStringLiteral("All data has been received!");
const QString kLinkBroken = QStringLiteral("communicate break down!");

#define SKIP_WITHOUT_SER2NET(rig)                                                                  \
    if (!(rig).Ready())                                                                            \
    GTEST_SKIP() << (rig).why.toStdString()

// The controller sends data announced at baud; the session receives it into target.
void StartReceive(Ser2NetRig& rig, const QByteArray& data, int baud, const QString& target)
{
    ASSERT_TRUE(rig.controller->SendFiles(QList<QByteArray>{data}, baud));
    rig.host.target = target;
    rig.session->StartTransfer();
}

// The session sends the files at baud; the controller stores what it got.
QList<QByteArray> SendAll(Ser2NetRig& rig, const QList<QByteArray>& files, int baud)
{
    QList<QByteArray> got;
    QObject::connect(rig.controller.get(), &SimulatedController::FileReceived,
                     [&](const QString&, const QByteArray& data) { got << data; });
    if (!rig.controller->ReceiveFiles(rig.Path("in"), int(files.size())))
        return got;
    for (int i = 0; i < files.size(); ++i) {
        const QString path = rig.Path(QStringLiteral("out%1.nc").arg(i));
        SessionRig::Write(path, files[i]);
        rig.host.rows.append({path, true, QString()});
    }
    rig.host.receiveMode = false;
    rig.host.baudText = QString::number(baud);
    rig.session->StartTransfer();
    WaitFor([&] { return rig.host.batchesEnded == 1 || !rig.host.messages.isEmpty(); }, 60000);
    WaitFor([&] { return got.size() == files.size(); }, 5000);
    return got;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(Ser2Net, ReceiveAndSendThroughRfc2217)
{
    const QByteArray ones(3000, char(0xff)); // every byte escaped both ways
    for (const auto& [baud, data] :
         {std::pair{9600, SessionRig::Pattern(2000, 1)},
          std::pair{19200, SessionRig::Pattern(4000, 2)},
          std::pair{38400, SessionRig::Pattern(9000, 3)}, std::pair{38400, ones}}) {
        {
            Ser2NetRig rig;
            SKIP_WITHOUT_SER2NET(rig);
            StartReceive(rig, data, baud, rig.Path("part.nc"));
            ASSERT_TRUE(rig.WaitIdle()) << baud;
            EXPECT_EQ(rig.host.messages, QStringList{kReceived}) << baud;
            EXPECT_EQ(SessionRig::Read(rig.Path("part.nc")), data) << baud;
            EXPECT_EQ(rig.modem.SpeedOf(VirtualNullModem::AToB), baud) << "switched by ser2net";
            EXPECT_EQ(rig.modem.BytesGarbled(VirtualNullModem::AToB), 0) << baud;
        }
        Ser2NetRig rig;
        const QList<QByteArray> files = {data, SessionRig::Pattern(1500, baud)};
        EXPECT_EQ(SendAll(rig, files, baud), files)
            << baud << " " << rig.host.messages.join(' ').toStdString();
        EXPECT_EQ(rig.host.rows[1].state, QStringLiteral("Complete")) << baud;
        EXPECT_EQ(rig.modem.SpeedOf(VirtualNullModem::AToB), baud) << baud;
    }
}

TEST(Ser2Net, ServerKilledMidTransferBreaksTheLineAndTheNextStartConnectsAgain)
{
    Ser2NetRig rig;
    SKIP_WITHOUT_SER2NET(rig);
    const QString stem = QStringLiteral("tw%1_killed").arg(QCoreApplication::applicationPid());
    const QString target = rig.Path(stem + ".nc");
    SessionRig::Write(target, "old program");
    StartReceive(rig, SessionRig::Pattern(20000), 9600, target);
    ASSERT_TRUE(WaitFor([&] { return rig.host.positions.size() >= 2; }, 20000));
    rig.Kill();
    ASSERT_TRUE(rig.WaitIdle(10000)) << "the loss is seen at once, not by the watchdog";
    EXPECT_EQ(rig.host.messages, QStringList{kLinkBroken});
    EXPECT_FALSE(rig.port.GetPortOpen());
    EXPECT_TRUE(rig.host.messageDetails.value(0).contains(QStringLiteral("127.0.0.1")))
        << "the reason on the second line";
    EXPECT_EQ(SessionRig::Read(target), "old program");
    EXPECT_TRUE(SessionRig::StagingFiles(stem).isEmpty());
    EXPECT_EQ(QDir(rig.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{stem + ".nc"});
    // Nothing keeps polling the dead connection.
    const double before = CpuSeconds();
    RunEventLoopFor(1000);
    EXPECT_LT(CpuSeconds() - before, 0.3);

    rig.controller->Stop(); // its packet still arrives at the server's port
    ASSERT_TRUE(faults::WaitForQuietLine(rig.modem));
    ASSERT_TRUE(rig.Start()) << rig.why.toStdString();
    rig.host.messages.clear();
    const QByteArray data = SessionRig::Pattern(1500, 7);
    StartReceive(rig, data, 19200, target);
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(rig.host.messages, QStringList{kReceived})
        << rig.host.messages.join(u'|').toStdString() << rig.port.LastError().toStdString();
    EXPECT_EQ(SessionRig::Read(target), data);
}

TEST(Ser2Net, RawTcpRunsAtTheSpeedInItsName)
{
    {
        Ser2NetRig rig(9600);
        SKIP_WITHOUT_SER2NET(rig);
        const QByteArray data = SessionRig::Pattern(1500, 4);
        StartReceive(rig, data, 9600, rig.Path("part.nc"));
        ASSERT_TRUE(rig.WaitIdle());
        EXPECT_EQ(rig.host.messages, QStringList{kReceived});
        EXPECT_EQ(SessionRig::Read(rig.Path("part.nc")), data);
    }
    {
        // A send announces the port's speed, whatever the baud box says.
        Ser2NetRig rig(9600);
        const QList<QByteArray> files = {SessionRig::Pattern(1500, 5)};
        EXPECT_EQ(SendAll(rig, files, 38400), files);
        EXPECT_EQ(rig.modem.SpeedOf(VirtualNullModem::BToA), 9600) << "the controller's speed";
    }
    {
        // A header asking for another speed is refused before DC4, saying why.
        Ser2NetRig rig(9600);
        rig.host.language = kChinese;
        StartReceive(rig, SessionRig::Pattern(1500, 6), 38400, rig.Path("part.nc"));
        ASSERT_TRUE(rig.WaitIdle());
        ASSERT_EQ(rig.host.messages.size(), 1);
        EXPECT_TRUE(rig.host.messages[0].contains(QStringLiteral("固定速度")))
            << rig.host.messages[0].toStdString();
        EXPECT_EQ(rig.host.receiveOutcomes.value(0).second, LoadString(201));
        EXPECT_TRUE(rig.host.messageDetails.value(0).contains(QStringLiteral("38400")));
        EXPECT_EQ(rig.sentBySession[0x14].load(), 0) << "no DC4";
        EXPECT_FALSE(QFileInfo::exists(rig.Path("part.nc")));
    }
}

TEST(Ser2Net, FlowControlAndFrameReachTheServersPort)
{
    Ser2NetRig rig;
    SKIP_WITHOUT_SER2NET(rig);
    // The port ser2net serves is a pseudo-terminal: it keeps 8 data bits
    // without parity, but speed, stop bits and flow control are as asked.
    const int fd = ::open(QFile::encodeName(rig.modem.PortA()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    SerialPort port;
    QString broken;
    QObject::connect(&port, &SerialPort::LineBroken, [&](const QString& why) { broken = why; });
    port.SetCommPort(rig.host.link.portName);
    const std::tuple<int, const char*, speed_t, tcflag_t, tcflag_t> rows[] = {
        // handshaking, settings, speed, CRTSCTS | CSTOPB, IXON | IXOFF
        {SerialPort::kHandshakeRtsCts, "4800,E,7,2", B4800, CRTSCTS | CSTOPB, 0},
        {SerialPort::kHandshakeXonXoff, "38400,N,8,1", B38400, 0, IXON | IXOFF},
        {SerialPort::kHandshakeNone, "9600,N,8,1", B9600, 0, 0},
    };
    for (const auto& [handshake, settings, speed, cflags, iflags] : rows) {
        // The first row before the open, the others on the open line.
        ASSERT_TRUE(port.SetHandshaking(handshake));
        ASSERT_TRUE(port.SetSettings(QString::fromLatin1(settings)));
        ASSERT_TRUE(port.SetPortOpen(true));
        termios now{};
        EXPECT_TRUE(WaitFor([&] {
            return ::tcgetattr(fd, &now) == 0 && cfgetospeed(&now) == speed &&
                   (now.c_cflag & (CRTSCTS | CSTOPB)) == cflags &&
                   (now.c_iflag & (IXON | IXOFF)) == iflags;
        })) << settings
            << ": cflag " << now.c_cflag << " iflag " << now.c_iflag;
        RunEventLoopFor(200); // the server's acknowledgement agrees
        EXPECT_TRUE(broken.isEmpty()) << broken.toStdString();
        EXPECT_FALSE(port.MarksParityErrors()) << "RFC 2217 carries no character errors";
        EXPECT_FALSE(port.DriverReportsQueue());
    }
    ::close(fd);
}

// The tape protocol through the device server: the program arrives whole
// under the controller's XOFFs, and the server's port runs at the profile's
// speed and stop bits. The server's own round trip adds to the characters
// after an XOFF (at 38400 baud a loaded millisecond is 3.5 of them); at 9600
// the bound of a local line holds through it as well.
TEST(Ser2Net, TapeSendThroughRfc2217)
{
    Ser2NetRig rig;
    SKIP_WITHOUT_SER2NET(rig);
    rig.controller.reset();
    TapeProfile profile;
    profile.name = QStringLiteral("Through a server");
    profile.baud = 9600;
    ASSERT_TRUE(profile.SetFrame(QStringLiteral("8N2")));
    rig.host.tape = profile;
    TapePeer peer;
    ASSERT_TRUE(peer.Open(rig.modem.PortB(), profile.baud));
    peer.HoldEvery(400, 30);
    QByteArray program = "%\nO0007\n";
    for (int i = 0; i < 200; ++i)
        program += "N" + QByteArray::number(i) + " G01 X" + QByteArray::number(i) + ".5 F100\n";
    program += "M30\n%\n";
    const QString path = rig.Path("O0007.nc");
    SessionRig::Write(path, program);
    rig.host.receiveMode = false;
    rig.host.rows.append({path, true, QString()});
    rig.session->StartTransfer();
    ASSERT_TRUE(WaitFor([&] { return rig.host.batchesEnded == 1; }, 60000));
    ASSERT_EQ(rig.host.reports.size(), 1);
    EXPECT_EQ(rig.host.reports[0].outcome, QLatin1String(FileReport::kSent))
        << rig.host.reports[0].detail.toStdString();
    ASSERT_TRUE(WaitFor([&] { return peer.got.size() >= program.size(); }, 5000));
    EXPECT_EQ(peer.got, program);
    EXPECT_GT(peer.holds, 0);
    EXPECT_LE(rig.modem.MostCharactersAfterXoff(VirtualNullModem::AToB), kTestMostAfterXoff);
    const int fd = ::open(QFile::encodeName(rig.modem.PortA()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios now{};
    EXPECT_EQ(::tcgetattr(fd, &now), 0);
    ::close(fd);
    EXPECT_EQ(cfgetospeed(&now), speed_t(B9600));
    EXPECT_TRUE(now.c_cflag & CSTOPB);
}
