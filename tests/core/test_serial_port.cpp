// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/LinkSettings.h"
#include "serial/NetworkLine.h"
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "support/WaitFor.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

using namespace tapeway;

namespace {

LinkSettings LinkOn(const QString& portName)
{
    LinkSettings link;
    link.portName = portName;
    return link;
}

} // namespace

TEST(LinkSettingsTest, ParityLetterComparesExactly)
{
    EXPECT_EQ(ParityLetter(QStringLiteral("EVENT")), QStringLiteral("E"));
    EXPECT_EQ(ParityLetter(QStringLiteral("ODD")), QStringLiteral("O"));
    EXPECT_EQ(ParityLetter(QStringLiteral("NONE")), QStringLiteral("N"));
    EXPECT_EQ(ParityLetter(QStringLiteral("odd")), QStringLiteral("N"));
    EXPECT_EQ(ParityLetter(QStringLiteral("EVEN")), QStringLiteral("N"));
    EXPECT_EQ(ParityLetter(QString()), QStringLiteral("N"));
}

TEST(LinkSettingsTest, SettingsTextTakesDataAndStopBitsVerbatim)
{
    LinkSettings link;
    link.stopBits = QStringLiteral("1.5");
    EXPECT_EQ(SettingsText(9600, link), QStringLiteral("9600,N,8,1.5"));
    link.parity = QStringLiteral("EVENT");
    link.dataBits = QStringLiteral("7");
    link.stopBits = QStringLiteral("2");
    EXPECT_EQ(SettingsText(38400, link), QStringLiteral("38400,E,7,2"));
}

TEST(LinkSettingsTest, PortNumberOfTakesTheFirstDigits)
{
    EXPECT_EQ(PortNumberOf(QStringLiteral("COM12")), 12);
    EXPECT_EQ(PortNumberOf(QStringLiteral("COM3A")), 3);
    EXPECT_EQ(PortNumberOf(QStringLiteral("USB2COM")), 2);
    EXPECT_EQ(PortNumberOf(QStringLiteral("COM")), -1);
    EXPECT_EQ(PortNumberOf(QString()), -1);
    EXPECT_EQ(PortNumberOf(QStringLiteral("ttyUSB0")), 0);
}

TEST(SerialPortTest, WireTimeIsTenBitsAByteRoundedUp)
{
    EXPECT_EQ(SerialPort::WireTimeMs(200, 9600), 209); // 208.33 ms
    EXPECT_EQ(SerialPort::WireTimeMs(960, 9600), 1000);
    EXPECT_EQ(SerialPort::WireTimeMs(1, 115200), 1);
    EXPECT_EQ(SerialPort::WireTimeMs(0, 9600), 0);
    EXPECT_EQ(SerialPort::WireTimeMs(10, 0), 0);
}

TEST(SerialPortTest, WireModelCountsTheFramesBits)
{
    // Bytes handed over to an idle line, and how many are not wholly on the
    // wire some microseconds later (a character under way counts as not).
    const std::tuple<const char*, int, qint64, qint64, qint64> rows[] = {
        {"9600,N,8,1", 100, 100, 52000, 51}, {"9600,E,7,2", 110, 100, 52000, 55},
        {"38400,N,8,1", 100, 24, 6250, 0},   {"110,E,7,2", 110, 10, 500000, 5},
        {"4800,O,8,2", 120, 10, 24000, 1},   {"115200,N,5,1.5", 75, 1, 1, 1},
    };
    for (const auto& [settings, bitTenths, bytes, afterUs, notOnWire] : rows) {
        SerialPort port;
        ASSERT_TRUE(port.SetSettings(QString::fromLatin1(settings)));
        EXPECT_EQ(port.CharacterBitTenths(), bitTenths) << settings;
        SerialPort::WireBacklog backlog;
        backlog.Add(bytes, bitTenths, port.CurrentBaud(), 1000);
        EXPECT_EQ(backlog.Characters(bitTenths, port.CurrentBaud(), 1000), bytes) << settings;
        EXPECT_EQ(backlog.Characters(bitTenths, port.CurrentBaud(), 1000 + afterUs), notOnWire)
            << settings;
    }
    // Backlogs add up: 10 characters at 9600 8N1, 5 ms later (4.8 gone) 10 more.
    SerialPort::WireBacklog backlog;
    backlog.Add(10, 100, 9600, 0);
    backlog.Add(10, 100, 9600, 5000);
    EXPECT_EQ(backlog.Characters(100, 9600, 5000), 16);
    EXPECT_EQ(SerialPort::WireTimeMs(100, 9600, 110), 115); // 114.58 ms
}

TEST(SerialPortTest, SettingsTextIsCheckedAndKeptOnAClosedPort)
{
    SerialPort port;
    EXPECT_TRUE(port.SetSettings(QStringLiteral("19200,E,7,1.5")));
    EXPECT_EQ(port.GetSettings(), QStringLiteral("19200,E,7,1.5"));
    EXPECT_EQ(port.CurrentBaud(), 19200);
    for (const char* bad : {"", "9600", "9600,N,8", "9600,X,8,1", "9600,N,9,1", "9600,N,4,1",
                            "9600,N,8,3", "0,N,8,1", "fast,N,8,1", "9600,N,8,1,1"}) {
        EXPECT_FALSE(port.SetSettings(QString::fromLatin1(bad))) << bad;
    }
    EXPECT_EQ(port.GetSettings(), QStringLiteral("19200,E,7,1.5"));
    EXPECT_EQ(port.CurrentBaud(), 19200);
}

TEST(SerialPortTest, FailedOpenGivesAReasonAndStillAppliesTheSettings)
{
    SerialPort port;
    LinkSettings link;
    link.portName = QStringLiteral("/dev/tapeway-no-such-device");
    link.stopBits = QStringLiteral("2");
    port.SetRThreshold(7);
    QString error;
    EXPECT_FALSE(OpenPort(port, link, &error));
    EXPECT_FALSE(port.GetPortOpen());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(error, port.LastError());
    EXPECT_EQ(port.GetSettings(), QStringLiteral("9600,N,8,2"));
    EXPECT_EQ(port.GetRThreshold(), 1);
    EXPECT_EQ(port.GetSThreshold(), 0);
    EXPECT_EQ(port.GetInputMode(), 1);
    EXPECT_EQ(port.GetInBufferSize(), 8192);
    EXPECT_EQ(port.GetOutBufferSize(), 512);
    // Nothing to read or write on a closed line, and no crash either.
    EXPECT_EQ(port.GetInBufferCount(), 0);
    EXPECT_TRUE(port.GetInput().isEmpty());
    port.SetOutput(QByteArray("x"));
}

TEST(SerialPortTest, APathThatIsNoSerialPortIsToldAsSuch)
{
    // It opens as a file but is no terminal: never "in use by another
    // program". A pseudo-terminal is a terminal, and opens.
    QTemporaryDir dir;
    QFile plain(dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start()) << modem.LastError().toStdString();
    for (const auto& [path, expected] :
         {std::pair{QStringLiteral("/dev/null"), PortOpenFailure::NotSerialPort},
          std::pair{plain.fileName(), PortOpenFailure::NotSerialPort},
          std::pair{dir.path(), PortOpenFailure::NotSerialPort},
          std::pair{modem.PortA(), PortOpenFailure::InUse}}) {
        SerialPort port;
        QString error;
        EXPECT_EQ(OpenPort(port, LinkOn(path), &error), path == modem.PortA())
            << path.toStdString();
        EXPECT_EQ(DiagnoseOpenFailure(path), expected) << path.toStdString();
    }
}

TEST(SerialPortTest, PortNumberZeroDoesNotOpen)
{
    SerialPort port;
    port.SetCommPort(QStringLiteral("COM0"));
    EXPECT_FALSE(port.SetPortOpen(true));
    EXPECT_FALSE(port.LastError().isEmpty());
    port.SetCommPort(QString());
    EXPECT_FALSE(port.SetPortOpen(true));
}

TEST(SerialPortLineTest, OpenPortOnAnOpenLineReopensOnTheNewPort)
{
    VirtualNullModem first, second;
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    SerialPort port, far;
    ASSERT_TRUE(OpenPort(far, LinkOn(second.PortB())));
    ASSERT_TRUE(OpenPort(port, LinkOn(first.PortA())));
    EXPECT_EQ(port.GetCommPort(), first.PortA());

    QString error;
    EXPECT_TRUE(OpenPort(port, LinkOn(second.PortA()), &error)) << error.toStdString();
    EXPECT_TRUE(port.GetPortOpen());
    EXPECT_EQ(port.GetCommPort(), second.PortA());
    SendControlByte(port, 0x12);
    EXPECT_TRUE(WaitFor([&] { return far.GetInBufferCount() > 0; }));
    EXPECT_EQ(far.GetInput(), QByteArray("\x12"));
    EXPECT_EQ(first.BytesForwarded(VirtualNullModem::AToB), 0);
}

TEST(SerialPortLineTest, OnCommReportsReceiveWhileBytesWait)
{
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    SerialPort a, b;
    ASSERT_TRUE(OpenPort(a, LinkOn(modem.PortA())));
    ASSERT_TRUE(OpenPort(b, LinkOn(modem.PortB())));
    int events = 0;
    QByteArray received;
    QObject::connect(&b, &SerialPort::OnComm, [&] {
        ++events;
        EXPECT_EQ(b.GetCommEvent(), SerialPort::kCommEventReceive);
        EXPECT_GT(b.GetInBufferCount(), 0);
        received += b.GetInput();
    });
    for (char c : QByteArray("\x11\x12\x13\x14"))
        SendControlByte(a, c);
    EXPECT_TRUE(WaitFor([&] { return received.size() >= 4; }));
    EXPECT_EQ(received, QByteArray("\x11\x12\x13\x14"));
    EXPECT_GE(events, 1);
    EXPECT_EQ(b.GetCommEvent(), 0); // only during the event
}

TEST(SerialPortLineTest, InBufferCountZeroDiscardsWaitingBytes)
{
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    SerialPort a, b;
    ASSERT_TRUE(OpenPort(a, LinkOn(modem.PortA())));
    ASSERT_TRUE(OpenPort(b, LinkOn(modem.PortB())));
    a.SetOutput(QByteArray("stale"));
    EXPECT_TRUE(WaitFor([&] { return b.GetInBufferCount() >= 5; }));
    b.SetInBufferCount(0);
    EXPECT_EQ(b.GetInBufferCount(), 0);
    a.SetOutput(QByteArray("new"));
    EXPECT_TRUE(WaitFor([&] { return b.GetInBufferCount() >= 3; }));
    EXPECT_EQ(b.GetInput(), QByteArray("new"));
}

TEST(SerialPortLineTest, SettingsApplyOnAnOpenLine)
{
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    SerialPort a;
    ASSERT_TRUE(OpenPort(a, LinkOn(modem.PortA())));
    EXPECT_EQ(modem.SpeedOf(VirtualNullModem::AToB), 9600);
    ASSERT_TRUE(a.SetSettings(QStringLiteral("19200,N,8,1")));
    EXPECT_EQ(modem.SpeedOf(VirtualNullModem::AToB), 19200);
    // POSIX terminals take one and a half stop bits as one; the text is kept.
    EXPECT_TRUE(a.SetSettings(QStringLiteral("38400,N,8,1.5")));
    EXPECT_EQ(a.GetSettings(), QStringLiteral("38400,N,8,1.5"));
    EXPECT_EQ(modem.SpeedOf(VirtualNullModem::AToB), 38400);
    // A pseudo-terminal carries 8 bits without parity whatever is set: a
    // frame with parity is taken as asked, and its speed and timing follow.
    EXPECT_TRUE(a.SetSettings(QStringLiteral("57600,E,7,2")));
    EXPECT_EQ(a.GetSettings(), QStringLiteral("57600,E,7,2"));
    EXPECT_EQ(modem.SpeedOf(VirtualNullModem::AToB), 57600);
    EXPECT_EQ(a.CharacterBitTenths(), 110);
    // Malformed text changes nothing on the line.
    EXPECT_FALSE(a.SetSettings(QStringLiteral("38400,N,8")));
    EXPECT_EQ(a.CurrentBaud(), 57600);
    EXPECT_EQ(modem.SpeedOf(VirtualNullModem::AToB), 57600);
    EXPECT_TRUE(a.GetPortOpen());
}

TEST(SerialPortLineTest, FlowControlAndParityMarkingReachTheTerminal)
{
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    // The test's own descriptor on end A, taken before the port opens it
    // exclusively, reads the terminal settings all holders share.
    const int fd = ::open(QFile::encodeName(modem.PortA()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    SerialPort a, b;
    ASSERT_TRUE(OpenPort(a, LinkOn(modem.PortA())));
    ASSERT_TRUE(OpenPort(b, LinkOn(modem.PortB())));
    termios plain{}, now{};
    ASSERT_EQ(::tcgetattr(fd, &plain), 0);
    EXPECT_FALSE(a.SetHandshaking(3));
    constexpr tcflag_t kInput =
        IXON | IXOFF | IXANY | INPCK | PARMRK | ISTRIP | IGNPAR | IGNBRK | BRKINT;
    const std::tuple<int, const char*, tcflag_t, tcflag_t> rows[] = {
        // handshaking, settings, CRTSCTS, input flags
        {SerialPort::kHandshakeRtsCts, "9600,N,8,1", CRTSCTS, plain.c_iflag & kInput},
        {SerialPort::kHandshakeXonXoff, "4800,E,7,2", 0, IXON | IXOFF | INPCK | PARMRK},
        {SerialPort::kHandshakeRtsCts, "38400,O,8,1", CRTSCTS, INPCK | PARMRK},
        {SerialPort::kHandshakeNone, "9600,N,8,1", 0, plain.c_iflag & kInput},
    };
    for (const auto& [handshake, settings, rtsCts, input] : rows) {
        ASSERT_TRUE(a.SetHandshaking(handshake) && a.SetSettings(QString::fromLatin1(settings)));
        ASSERT_EQ(::tcgetattr(fd, &now), 0);
        EXPECT_EQ(now.c_cflag & CRTSCTS, rtsCts) << settings;
        EXPECT_EQ(now.c_iflag & kInput, input) << settings;
        // Marked input doubles a real 0xFF; unmarked input leaves it alone.
        const bool marks = (input & PARMRK) != 0;
        EXPECT_EQ(a.MarksParityErrors(), marks) << settings;
        b.SetOutput(QByteArray("\xff\x41"));
        QByteArray got;
        EXPECT_TRUE(WaitFor([&] { return (got += a.GetInput()).size() >= (marks ? 3 : 2); }));
        EXPECT_EQ(got, marks ? QByteArray("\xff\xff\x41") : QByteArray("\xff\x41")) << settings;
    }
    // Back to the packet protocol's line: the settings of the open, whole.
    ASSERT_EQ(::tcgetattr(fd, &now), 0);
    EXPECT_EQ(now.c_iflag, plain.c_iflag);
    EXPECT_EQ(now.c_cflag & ~PARODD, plain.c_cflag) << "PARODD means nothing without PARENB";
    ::close(fd);

    // A pseudo-terminal reports no queue: what it holds is the wire time left.
    EXPECT_FALSE(a.DriverReportsQueue());
    QElapsedTimer clock;
    clock.start();
    a.SetOutput(QByteArray(960, 'x')); // one second at 9600 8N1
    EXPECT_EQ(a.BytesNotOnWire(), 960);
    EXPECT_TRUE(WaitFor([&] { return a.BytesNotOnWire() == 0; }, 5000));
    EXPECT_GE(clock.elapsed(), 990);
}

TEST(SerialPortLineTest, DrainWaitsForTheWireTime)
{
    VirtualNullModem modem;
    modem.SetPaced(true);
    ASSERT_TRUE(modem.Start());
    SerialPort a, b;
    ASSERT_TRUE(OpenPort(a, LinkOn(modem.PortA())));
    ASSERT_TRUE(OpenPort(b, LinkOn(modem.PortB())));
    QElapsedTimer clock;
    clock.start();
    a.SetOutput(QByteArray(200, 'x')); // 208.3 ms at 9600 baud
    qint64 doneAt = -1;
    int calls = 0;
    a.Drain([&] {
        doneAt = clock.elapsed();
        ++calls;
    });
    EXPECT_EQ(calls, 0); // never from inside Drain
    EXPECT_TRUE(WaitFor([&] { return calls > 0; }));
    EXPECT_GE(doneAt, 208);
    RunEventLoopFor(20);
    EXPECT_EQ(calls, 1);
    // The far end has the bytes (the modem delivers them at the wire pace).
    EXPECT_TRUE(WaitFor([&] { return b.GetInBufferCount() >= 200; }));

    // With nothing written since, a drain ends soon and still asynchronously.
    bool again = false;
    a.Drain([&] { again = true; });
    EXPECT_FALSE(again);
    EXPECT_TRUE(WaitFor([&] { return again; }));
}

TEST(SerialPortLineTest, DrainOnAClosedLineRunsFromTheEventLoop)
{
    SerialPort port;
    bool done = false;
    port.Drain([&] { done = true; });
    EXPECT_FALSE(done);
    EXPECT_TRUE(WaitFor([&] { return done; }));
}

TEST(SerialPortLineTest, CloseRunsPendingDrains)
{
    VirtualNullModem modem;
    modem.SetPaced(true);
    ASSERT_TRUE(modem.Start());
    SerialPort a;
    ASSERT_TRUE(OpenPort(a, LinkOn(modem.PortA())));
    a.SetOutput(QByteArray(960, 'x')); // a full second at 9600 baud
    bool done = false;
    a.Drain([&] { done = true; });
    a.SetPortOpen(false);
    EXPECT_TRUE(WaitFor([&] { return done; }, 500));
}

TEST(SerialPortNetworkTest, NamesPickTheLineAndItsSpeed)
{
    SerialPort port;
    const std::tuple<const char*, int, bool> names[] = {
        // name, fixed speed, 38400 settable
        {"rfc2217://plc-7.example:4001", 0, true},
        {"tcp://10.0.4.13:4001", 9600, false},
        {"TCP://[::1]:4001?baud=38400", 38400, true},
        {"/dev/ttyUSB0", 0, true},
    };
    for (const auto& [name, fixed, fast] : names) {
        port.SetCommPort(QString::fromLatin1(name));
        EXPECT_EQ(port.FixedBaud(), fixed) << name;
        EXPECT_EQ(port.CanSetBaud(38400), fast) << name;
        EXPECT_FALSE(port.CanSetBaud(12345)) << name;
    }
    port.SetCommPort(QStringLiteral("tcp://10.0.4.13:4001"));
    EXPECT_FALSE(port.SetSettings(QStringLiteral("38400,N,8,1")));
    EXPECT_TRUE(port.SetSettings(QStringLiteral("9600,N,8,1")));

    for (const char* bad : {"rfc2217://", "rfc2217://host", "rfc2217://host:0", "tcp://host:70000",
                            "tcp://host:4001?baud=fast", "tcp://host:4001?speed=9600",
                            "rfc2217://host:4001?baud=9600", "rfc2217://host:4001/x"}) {
        port.SetCommPort(QString::fromLatin1(bad));
        EXPECT_FALSE(port.SetPortOpen(true)) << bad;
        EXPECT_TRUE(port.LastError().contains(QStringLiteral("rfc2217://HOST:PORT"))) << bad;
        EXPECT_FALSE(port.GetPortOpen()) << bad;
    }
}

TEST(SerialPortNetworkTest, ConnectingNeverBlocksAndAFailureBreaksTheLine)
{
    // Nobody listens: refused at once. A server that accepts and never
    // agrees to the option: broken after the connect timeout.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    for (const auto& [port, minMs] :
         {std::pair{closedPort, 0}, std::pair{silent.serverPort(), 4500}}) {
        SerialPort line;
        line.SetCommPort(QStringLiteral("rfc2217://127.0.0.1:%1").arg(port));
        QString reason;
        QObject::connect(&line, &SerialPort::LineBroken, [&](const QString& why) { reason = why; });
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(line.SetPortOpen(true));
        line.SetOutput(QByteArray("\x12"));
        EXPECT_LT(clock.elapsed(), 100) << "no wait on the caller's thread";
        ASSERT_TRUE(WaitFor([&] { return !reason.isEmpty(); }, 10000)) << port;
        EXPECT_GE(clock.elapsed(), minMs) << reason.toStdString();
        EXPECT_TRUE(reason.contains(QStringLiteral("127.0.0.1:%1").arg(port)))
            << reason.toStdString();
        EXPECT_FALSE(line.GetPortOpen());
        EXPECT_EQ(line.LastError(), reason);
    }
}

TEST(SerialPortNetworkTest, AServerRunningOtherFlowControlBreaksTheLine)
{
    // The server agrees to the option and answers the flow control request
    // with "none": a line that asked for RTS/CTS is broken, one that asked
    // for none is not.
    for (const auto& [handshake, breaks] : {std::pair{SerialPort::kHandshakeRtsCts, true},
                                            std::pair{SerialPort::kHandshakeNone, false}}) {
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        SerialPort line;
        QString reason;
        QObject::connect(&line, &SerialPort::LineBroken, [&](const QString& why) { reason = why; });
        line.SetCommPort(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort()));
        ASSERT_TRUE(line.SetHandshaking(handshake) && line.SetPortOpen(true));
        ASSERT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
        QTcpSocket* peer = server.nextPendingConnection();
        peer->write(QByteArray::fromHex("fffd2c"));
        QByteArray asked;
        ASSERT_TRUE(
            WaitFor([&] { return (asked += peer->readAll()).contains("\xff\xfa\x2c\x05"); }));
        peer->write(QByteArray::fromHex("fffa2c6901fff0"));
        EXPECT_EQ(WaitFor([&] { return !reason.isEmpty(); }, breaks ? 5000 : 300), breaks);
        EXPECT_EQ(reason.contains(QStringLiteral("RTS/CTS")), breaks) << reason.toStdString();
    }
}

TEST(SerialPortNetworkTest, RawTcpCarriesBytesWrittenBeforeTheConnection)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    SerialPort line;
    ASSERT_TRUE(
        OpenPort(line, LinkOn(QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()))));
    EXPECT_EQ(line.CurrentBaud(), 9600);
    QElapsedTimer clock;
    clock.start();
    line.SetOutput(QByteArray(96, '\xff')); // 100 ms at 9600 baud, untouched by any escape
    bool drained = false;
    line.Drain([&] { drained = true; });
    ASSERT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    ASSERT_TRUE(WaitFor([&] { return peer->bytesAvailable() >= 96; }));
    EXPECT_EQ(peer->readAll(), QByteArray(96, '\xff'));
    ASSERT_TRUE(WaitFor([&] { return drained; }));
    EXPECT_GE(clock.elapsed(), 100);

    QByteArray received;
    QObject::connect(&line, &SerialPort::OnComm, [&] { received += line.GetInput(); });
    peer->write("\x11\xff");
    EXPECT_TRUE(WaitFor([&] { return received.size() >= 2; }));
    EXPECT_EQ(received, QByteArray("\x11\xff"));
}

TEST(SerialPortNetworkTest, AServerThatFloodsNegotiationAndNeverReadsBreaksTheLine)
{
    // The server agrees to the option, then repeats negotiation (a wanted
    // option switched on and off, an unwanted one offered, the signature
    // asked for) and reads nothing. The client answers what changes, keeps
    // what waits to be written bounded and breaks the line with the reason.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    NetworkLine line(
        {NetworkLine::Kind::Rfc2217, QStringLiteral("127.0.0.1"), server.serverPort(), 0});
    QString reason;
    QObject::connect(&line, &LineTransport::Broken, [&](const QString& why) { reason = why; });
    ASSERT_TRUE(line.Open(nullptr));
    ASSERT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    peer->setReadBufferSize(1024);              // takes what fits, then no more
    peer->write(QByteArray::fromHex("fffd2c")); // DO COM-PORT-OPTION

    QByteArray flood;
    while (flood.size() < 64 * 1024)
        flood += QByteArray::fromHex("fffb00fffc00fffb01fffa2c64fff0");
    qint64 sent = 0, mostQueued = 0;
    constexpr qint64 kFlood = 96ll * 1024 * 1024;
    const bool broke = WaitFor(
        [&] {
            mostQueued = std::max(mostQueued, line.BytesQueued());
            if (!reason.isEmpty())
                return true;
            if (sent < kFlood && peer->bytesToWrite() < 1024 * 1024) {
                peer->write(flood);
                sent += flood.size();
            }
            return false;
        },
        60000);
    ASSERT_TRUE(broke) << "sent " << sent << ", queued at most " << mostQueued;
    EXPECT_TRUE(
        reason.contains(QStringLiteral("127.0.0.1:%1 does not read").arg(server.serverPort())))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains(QStringLiteral("不读取"))) << reason.toStdString();
    // The system's own buffers plus the limit, far below what was sent.
    EXPECT_LT(mostQueued, 24ll * 1024 * 1024) << "sent " << sent;
    EXPECT_LT(sent, kFlood) << "broken before the flood ended";
}
