// SPDX-License-Identifier: GPL-3.0-or-later
// The rack paces as VirtualNullModem does, on one thread for all its pairs.
#include "serial/LinkSettings.h"
#include "serial/NullModemRack.h"
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "support/WaitFor.h"

#include <QElapsedTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace tapeway;

namespace {

struct Collector
{
    SerialPort port;
    QByteArray received;

    bool Open(const QString& name, int baud)
    {
        LinkSettings link;
        link.portName = name;
        QObject::connect(&port, &SerialPort::OnComm, [this] {
            if (port.GetCommEvent() == SerialPort::kCommEventReceive)
                received += port.GetInput();
        });
        return OpenPort(port, link) && (baud == 9600 || ApplyBaudRate(port, baud, link));
    }
};

qint64 NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// An end opened raw at 38400 baud whose output the kernel stops on DC3.
int OpenXonEnd(const QString& path)
{
    const int fd = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0)
        return -1;
    cfmakeraw(&tio);
    tio.c_iflag |= IXON;
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    return tcsetattr(fd, TCSANOW, &tio) == 0 ? fd : -1;
}

} // namespace

// Every pair of one rack at once, each at the frame and speeds of its row:
// bytes arrive in order, never before their wire time, at the speed the
// sending end set; ends at two speeds get every byte garbled.
TEST(NullModemRackTest, EveryPairKeepsItsOwnWireTime)
{
    const struct
    {
        const char* frame;
        int baudA;
        int baudB;
        NullModemRack::Direction direction;
    } rows[] = {
        {"8N1", 9600, 9600, NullModemRack::AToB},   {"7E2", 9600, 9600, NullModemRack::AToB},
        {"8N1", 38400, 38400, NullModemRack::BToA}, {"7E2", 19200, 19200, NullModemRack::BToA},
        {"8N1", 19200, 9600, NullModemRack::AToB},
    };
    constexpr int kRows = int(std::size(rows));
    NullModemRack rack(kRows);
    for (int i = 0; i < kRows; ++i)
        rack.SetFrame(i, rows[i].direction, *UartModel::Frame::Parse(QLatin1String(rows[i].frame)));
    ASSERT_TRUE(rack.Start()) << rack.LastError().toStdString();

    std::unique_ptr<Collector> senders[kRows], receivers[kRows];
    QByteArray blocks[kRows];
    for (int i = 0; i < kRows; ++i) {
        const bool aSends = rows[i].direction == NullModemRack::AToB;
        senders[i] = std::make_unique<Collector>();
        receivers[i] = std::make_unique<Collector>();
        const QString from = aSends ? rack.PortA(i) : rack.PortB(i);
        const QString to = aSends ? rack.PortB(i) : rack.PortA(i);
        ASSERT_TRUE(senders[i]->Open(from, aSends ? rows[i].baudA : rows[i].baudB));
        ASSERT_TRUE(receivers[i]->Open(to, aSends ? rows[i].baudB : rows[i].baudA));
        for (int n = 0; n < 150; ++n) // 156 ms at 9600 8N1, 43 ms at 38400 8N1
            blocks[i].append(char(n * 7 + 1));
    }
    QElapsedTimer clock;
    clock.start();
    const qint64 startNs = NowNs();
    for (int i = 0; i < kRows; ++i)
        senders[i]->port.SetOutput(blocks[i]);
    EXPECT_TRUE(WaitFor([&] {
        bool all = true;
        for (int i = 0; i < kRows; ++i) {
            const int bits =
                UartModel::Frame::Parse(QLatin1String(rows[i].frame))->BitsPerCharacter();
            const int baud =
                rows[i].direction == NullModemRack::AToB ? rows[i].baudA : rows[i].baudB;
            EXPECT_LE(receivers[i]->received.size(), clock.elapsed() * baud / (bits * 1000) + 1)
                << "row " << i;
            all = all && receivers[i]->received.size() >= blocks[i].size();
        }
        return all;
    }));

    for (int i = 0; i < kRows; ++i) {
        SCOPED_TRACE(i);
        const auto d = rows[i].direction;
        const UartModel::Frame frame = *UartModel::Frame::Parse(QLatin1String(rows[i].frame));
        const int baud = d == NullModemRack::AToB ? rows[i].baudA : rows[i].baudB;
        const qint64 characterNs = UartModel::CharacterNs(frame, baud);
        const bool mismatch = rows[i].baudA != rows[i].baudB;
        QByteArray expected = blocks[i];
        if (mismatch) {
            for (char& c : expected)
                c = char(c ^ VirtualNullModem::kGarbleMask);
        }
        EXPECT_EQ(receivers[i]->received, expected);
        EXPECT_EQ(rack.BytesForwarded(i, d), blocks[i].size());
        EXPECT_EQ(rack.BytesGarbled(i, d), mismatch ? blocks[i].size() : 0);
        EXPECT_EQ(rack.BytesForwarded(i, NullModemRack::Direction(1 - d)), 0);
        // The first byte's whole frame, then one character time for each next.
        EXPECT_GE(rack.FirstArrivalNs(i, d) - startNs, characterNs);
        EXPECT_GE(rack.LastArrivalNs(i, d) - rack.FirstArrivalNs(i, d),
                  (blocks[i].size() - 1) * characterNs);
        EXPECT_EQ(rack.SpeedOf(i, NullModemRack::AToB), rows[i].baudA);
    }
    EXPECT_GT(rack.Steps(), 40);
}

// An end whose program set IXON stops on the DC3 it receives: the rack's
// UART takes nothing more, so little reaches the far end until DC1.
TEST(NullModemRackTest, KernelXoffHoldsTheSenderUntilXon)
{
    NullModemRack rack(1);
    ASSERT_TRUE(rack.Start());
    const int a = OpenXonEnd(rack.PortA(0));
    ASSERT_GE(a, 0);
    Collector b;
    ASSERT_TRUE(b.Open(rack.PortB(0), 38400));
    const QByteArray block(2000, 'x'); // 521 ms at 38400 baud
    ASSERT_EQ(write(a, block.constData(), size_t(block.size())), block.size());
    ASSERT_TRUE(WaitFor([&] { return b.received.size() >= 200; }));
    b.port.SetOutput(QByteArray("\x13"));
    RunEventLoopFor(150);
    const qint64 held = rack.BytesForwarded(0, NullModemRack::AToB);
    RunEventLoopFor(150);
    EXPECT_EQ(rack.BytesForwarded(0, NullModemRack::AToB), held);
    EXPECT_LT(held, block.size());
    b.port.SetOutput(QByteArray("\x11"));
    EXPECT_TRUE(WaitFor([&] { return b.received.size() >= block.size(); }));
    EXPECT_EQ(b.received, block);
    close(a);
}
