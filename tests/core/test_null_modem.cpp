// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "support/WaitFor.h"

#include <QElapsedTimer>
#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace tapeway;

namespace {

// A port on one end of the modem that collects whatever arrives.
struct Collector
{
    SerialPort port;
    QByteArray received;
    int breaks = 0;

    bool Open(const QString& name, int baud = 9600)
    {
        LinkSettings link;
        link.portName = name;
        QObject::connect(&port, &SerialPort::OnComm, [this] {
            if (port.GetCommEvent() == SerialPort::kCommEventReceive)
                received += port.GetInput();
        });
        QObject::connect(&port, &SerialPort::LineBroken, [this] { ++breaks; });
        return OpenPort(port, link) && (baud == 9600 || ApplyBaudRate(port, baud, link));
    }
};

QByteArray Bytes(int n)
{
    QByteArray bytes;
    for (int i = 0; i < n; ++i)
        bytes.append(char(i * 7 + 1));
    return bytes;
}

// An end opened raw with the kernel's flow-control flags given; -1 on failure.
int OpenRawEnd(const QString& path, speed_t speed, tcflag_t flowFlags)
{
    const int fd = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0)
        return -1;
    cfmakeraw(&tio);
    tio.c_iflag |= flowFlags;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0 ? fd : -1;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(VirtualNullModemTest, CarriesBytesBothWays)
{
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start()) << modem.LastError().toStdString();
    EXPECT_NE(modem.PortA(), modem.PortB());
    Collector a, b;
    ASSERT_TRUE(a.Open(modem.PortA()));
    ASSERT_TRUE(b.Open(modem.PortB()));

    const QByteArray block = Bytes(3000); // all byte values, NUL and control bytes included
    a.port.SetOutput(block);
    b.port.SetOutput(QByteArray("\x11\x00\x13\n\r", 5));
    EXPECT_TRUE(
        WaitFor([&] { return b.received.size() >= block.size() && a.received.size() >= 5; }));
    EXPECT_EQ(b.received, block);
    EXPECT_EQ(a.received, QByteArray("\x11\x00\x13\n\r", 5));
    EXPECT_EQ(modem.BytesForwarded(VirtualNullModem::AToB), block.size());
    EXPECT_EQ(modem.BytesForwarded(VirtualNullModem::BToA), 5);
    EXPECT_EQ(a.breaks + b.breaks, 0);
}

TEST(VirtualNullModemTest, TapChangesAndDropsBytes)
{
    VirtualNullModem modem;
    std::vector<qint64> seen;
    modem.SetTap(VirtualNullModem::AToB, [&seen](quint8& byte, qint64 index) {
        seen.push_back(index);
        if (index == 1)
            return false;
        if (index == 2)
            byte ^= 0xFF;
        return true;
    });
    ASSERT_TRUE(modem.Start());
    Collector a, b;
    ASSERT_TRUE(a.Open(modem.PortA()));
    ASSERT_TRUE(b.Open(modem.PortB()));
    a.port.SetOutput(QByteArray("abcd"));
    EXPECT_TRUE(WaitFor([&] { return b.received.size() >= 3; }));
    RunEventLoopFor(50);
    EXPECT_EQ(b.received, QByteArray("a\x9c"
                                     "d"));
    EXPECT_EQ(modem.BytesDropped(VirtualNullModem::AToB), 1);
    EXPECT_EQ(seen, (std::vector<qint64>{0, 1, 2, 3}));
}

TEST(VirtualNullModemTest, AnEndSurvivesCloseAndReopenWithItsSpeed)
{
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    Collector a;
    ASSERT_TRUE(a.Open(modem.PortA()));
    {
        Collector b;
        ASSERT_TRUE(b.Open(modem.PortB(), 19200));
        EXPECT_EQ(modem.SpeedOf(VirtualNullModem::BToA), 19200);
    }
    // The far end is closed: bytes written now must not break the near end.
    a.port.SetOutput(QByteArray("lost?"));
    RunEventLoopFor(50);
    Collector b;
    ASSERT_TRUE(b.Open(modem.PortB())); // clears what waited while it was closed
    a.port.SetOutput(QByteArray("again"));
    EXPECT_TRUE(WaitFor([&] { return b.received.endsWith("again"); }));
    EXPECT_EQ(a.breaks + b.breaks, 0);
    EXPECT_TRUE(a.port.GetPortOpen());
}

TEST(VirtualNullModemTest, PacedBytesTakeTheirWireTime)
{
    for (const char* text : {"8N1", "7E2"}) {
        const UartModel::Frame frame = *UartModel::Frame::Parse(QString::fromLatin1(text));
        const int bits = frame.BitsPerCharacter();
        VirtualNullModem modem;
        modem.SetPaced(true);
        if (frame != UartModel::Frame{}) // 8N1 unless set
            modem.SetFrame(VirtualNullModem::AToB, frame);
        ASSERT_TRUE(modem.Start());
        Collector a, b;
        ASSERT_TRUE(a.Open(modem.PortA()));
        ASSERT_TRUE(b.Open(modem.PortB()));
        const QByteArray block = Bytes(200); // 208 ms at 9600 baud 8N1, 229 ms 7E2
        QElapsedTimer clock;
        clock.start();
        a.port.SetOutput(block);
        // Never faster than the wire: at most one byte every 1.04 ms (8N1).
        EXPECT_TRUE(WaitFor([&] {
            EXPECT_LE(b.received.size(), clock.elapsed() * 9600 / (bits * 1000) + 1) << text;
            return b.received.size() >= block.size();
        }));
        EXPECT_GE(clock.elapsed(), block.size() * bits * 1000 / 9600 - 8) << text;
        EXPECT_EQ(b.received, block);
        EXPECT_EQ(modem.BytesGarbled(VirtualNullModem::AToB), 0);
    }
}

// An end whose program set IXON is stopped by the kernel on the DC3 it
// receives: only what its UART held reaches the far end; DC1 (with IXANY any
// byte) starts it again and nothing is lost. Without IXON the count shows it.
TEST(VirtualNullModemTest, KernelXoffStopsTheSenderWithinTheFifo)
{
    const struct
    {
        tcflag_t flowFlags;
        char restart; // 0: never stopped
    } rows[] = {{IXON, '\x11'}, {IXON | IXANY, 'r'}, {0, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.flowFlags);
        VirtualNullModem modem;
        modem.SetPaced(true);
        ASSERT_TRUE(modem.Start());
        const int a = OpenRawEnd(modem.PortA(), B38400, row.flowFlags);
        ASSERT_GE(a, 0);
        Collector b;
        ASSERT_TRUE(b.Open(modem.PortB(), 38400));
        const QByteArray block(2000, 'x'); // 521 ms at 38400 baud
        ASSERT_EQ(write(a, block.constData(), size_t(block.size())), block.size());
        ASSERT_TRUE(WaitFor([&] { return b.received.size() >= 200; }));
        b.port.SetOutput(QByteArray("\x13"));
        if (row.restart) {
            RunEventLoopFor(200);
            const qint64 stalledAt = modem.BytesForwarded(VirtualNullModem::AToB);
            RunEventLoopFor(200);
            EXPECT_EQ(modem.BytesForwarded(VirtualNullModem::AToB), stalledAt);
            EXPECT_LT(stalledAt, block.size());
            EXPECT_GE(modem.CharactersAfterXoff(VirtualNullModem::AToB), 1);
            EXPECT_LE(modem.MostCharactersAfterXoff(VirtualNullModem::AToB),
                      UartModel::kFifoDepth + 2);
            b.port.SetOutput(QByteArray(1, row.restart));
        }
        EXPECT_TRUE(WaitFor([&] { return b.received.size() >= block.size(); }));
        EXPECT_EQ(b.received, block);
        if (!row.restart) {
            EXPECT_GT(modem.MostCharactersAfterXoff(VirtualNullModem::AToB), 100);
        } else if (row.restart == '\x11') {
            EXPECT_EQ(modem.CharactersAfterXoff(VirtualNullModem::AToB), 0); // XON ends the count
        }
        close(a);
    }
}

TEST(VirtualNullModemTest, SpeedMismatchGarblesEveryByte)
{
    VirtualNullModem modem;
    modem.SetPaced(true);
    ASSERT_TRUE(modem.Start());
    Collector a, b;
    ASSERT_TRUE(a.Open(modem.PortA(), 9600));
    ASSERT_TRUE(b.Open(modem.PortB(), 38400));
    a.port.SetOutput(QByteArray("\x12\x14"));
    EXPECT_TRUE(WaitFor([&] { return b.received.size() >= 2; }));
    EXPECT_EQ(b.received.at(0), char(0x12 ^ VirtualNullModem::kGarbleMask));
    EXPECT_EQ(b.received.at(1), char(0x14 ^ VirtualNullModem::kGarbleMask));
    EXPECT_EQ(modem.BytesGarbled(VirtualNullModem::AToB), 2);

    // Matching speeds again: bytes pass intact.
    LinkSettings link;
    ASSERT_TRUE(ApplyBaudRate(a.port, 38400, link));
    b.received.clear();
    a.port.SetOutput(QByteArray("ok"));
    EXPECT_TRUE(WaitFor([&] { return b.received.size() >= 2; }));
    EXPECT_EQ(b.received, QByteArray("ok"));
}

TEST(VirtualNullModemTest, HangUpBreaksEachLineOnceWithoutSpinning)
{
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start());
    Collector a, b;
    ASSERT_TRUE(a.Open(modem.PortA()));
    ASSERT_TRUE(b.Open(modem.PortB()));
    QString reason;
    QObject::connect(&a.port, &SerialPort::LineBroken, [&reason](const QString& r) { reason = r; });

    modem.HangUp();
    EXPECT_FALSE(modem.IsRunning());
    EXPECT_TRUE(WaitFor([&] { return a.breaks >= 1 && b.breaks >= 1; }));
    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    RunEventLoopFor(1000);
    const double cpuUsed = CpuSeconds() - cpuBefore;
    // A loop on a hung-up descriptor would burn a whole core for that second.
    EXPECT_LT(cpuUsed, 0.5 * clock.elapsed() / 1000.0);
    EXPECT_EQ(a.breaks, 1);
    EXPECT_EQ(b.breaks, 1);
    EXPECT_FALSE(a.port.GetPortOpen());
    EXPECT_FALSE(b.port.GetPortOpen());
    EXPECT_FALSE(reason.isEmpty());
    // Writing to a broken line does nothing and raises nothing more.
    a.port.SetOutput(QByteArray("x"));
    RunEventLoopFor(50);
    EXPECT_EQ(a.breaks, 1);
}

TEST(VirtualNullModemTest, StopIsPromptAndRepeatable)
{
    VirtualNullModem modem;
    modem.SetPaced(true);
    ASSERT_TRUE(modem.Start());
    const QString path = modem.PortA();
    EXPECT_TRUE(QFile::exists(path));
    modem.Stop();
    EXPECT_FALSE(modem.IsRunning());
    modem.Stop();
    ASSERT_TRUE(modem.Start());
    EXPECT_TRUE(modem.IsRunning());
}
