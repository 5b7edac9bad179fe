// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/Frame.h"
#include "transfer/ReceiveProtocol.h"
#include "transfer/SendProtocol.h"
#include "transfer/TransferSession.h"

#include <gtest/gtest.h>

using namespace tapeway;

namespace {

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray Pattern(int size)
{
    QByteArray data(size, 0);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251) & 0xff);
    return data;
}

// Plays a whole exchange between the two machines, every frame delivered in
// chunks of the given size, and returns what the receiver collected.
struct Exchange
{
    QByteArray received;
    QList<int> packetSizes;
    ReceiveProtocol::Failure failure = ReceiveProtocol::Failure::None;
    bool finished = false;
};

Exchange Play(const QByteArray& file, int baud, int chunkSize)
{
    SendProtocol sender(file, baud);
    ReceiveProtocol receiver;
    Exchange result;
    auto deliver = [&](const QByteArray& frame) {
        ReceiveProtocol::Step last;
        for (qsizetype i = 0; i < frame.size(); i += chunkSize) {
            const ReceiveProtocol::Step step = receiver.Feed(
                QByteArrayView(frame).sliced(i, qMin<qsizetype>(chunkSize, frame.size() - i)));
            if (step.headerAccepted || step.packetDone ||
                step.failure != ReceiveProtocol::Failure::None)
                last = step;
        }
        return last;
    };
    SendProtocol::Step s = sender.Feed(QByteArray(1, kDC2));
    ReceiveProtocol::Step r = deliver(s.output);
    if (!r.headerAccepted) {
        result.failure = r.failure;
        return result;
    }
    EXPECT_TRUE(sender.Feed(QByteArray(1, kDC4)).switchSpeed);
    s = sender.Feed(QByteArray(1, kDC3));
    while (!s.output.isEmpty()) {
        result.packetSizes << int(s.output.size());
        r = deliver(s.output);
        if (r.failure != ReceiveProtocol::Failure::None) {
            result.failure = r.failure;
            return result;
        }
        if (r.finished) {
            result.finished = true;
            result.received = receiver.Data();
            EXPECT_TRUE(s.complete);
            return result;
        }
        s = sender.Feed(QByteArray(1, kDC2));
    }
    return result;
}

} // namespace

TEST(Frames, ThreeByteFileTravelsAsTheKnownBytes)
{
    SendProtocol sender("abc", 9600);
    EXPECT_TRUE(sender.Feed("junk").output.isEmpty()); // nothing until DC2
    const SendProtocol::Step header = sender.Feed(QByteArray(1, kDC2));
    EXPECT_EQ(header.output, Hex("11 00 60 00 00 00 00 00 00 00 00 00 00 00 03 00 63"));
    EXPECT_TRUE(sender.Feed(QByteArray(1, kDC4)).switchSpeed);
    const SendProtocol::Step packet = sender.Feed(QByteArray(1, kDC3));
    EXPECT_EQ(packet.output, Hex("11 61 62 63 00 00 01 26"));
    EXPECT_TRUE(packet.complete);

    ReceiveProtocol receiver;
    ReceiveProtocol::Step step = receiver.Feed(header.output);
    EXPECT_TRUE(step.headerStarted);
    EXPECT_TRUE(step.headerAccepted);
    EXPECT_EQ(receiver.Baud(), 9600);
    EXPECT_EQ(receiver.TotalLength(), 3);
    EXPECT_EQ(receiver.ExpectedLength(), 8);
    step = receiver.Feed(packet.output);
    EXPECT_TRUE(step.packetDone);
    EXPECT_TRUE(step.finished);
    EXPECT_EQ(receiver.Data(), QByteArray("abc"));
}

TEST(Frames, HeaderFor38400AndAFileOf1025Bytes)
{
    EXPECT_EQ(FrameHeader(38400, 1025).Encode(),
              Hex("11 01 80 00 00 00 00 00 00 00 00 00 00 04 01 00 86"));
    const auto decoded =
        FrameHeader::Decode(Hex("11 00 C0 00 00 00 00 00 00 00 00 00 00 00 05 00 C5"));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->Baud(), 19200);
    EXPECT_EQ(decoded->Length(), 5u);
}

TEST(Frames, ExpectedPacketLengthsAndLastPacket)
{
    struct Row
    {
        int block, k;
        qint64 length;
        int expected;
    } rows[] = {
        {1024, 1, 3, 8},    {1024, 1, 1024, 1029}, {1024, 1, 1025, 1025},
        {1024, 2, 1025, 6}, {1024, 3, 1025, 0},    {1024, 0, 100, 10},
        {1024, 1, 0, 10},   {0, 1, 100, 10},       {1024, 2, 2048, 1029},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ExpectedPacketLength(row.block, row.k, row.length), row.expected)
            << "k=" << row.k << " L=" << row.length;
    EXPECT_TRUE(IsLastPacket(1, 1024));
    EXPECT_FALSE(IsLastPacket(1, 1025));
    EXPECT_TRUE(IsLastPacket(2, 1025));
    EXPECT_TRUE(IsLastPacket(-1, 1025));
    EXPECT_TRUE(IsLastPacket(1, 0));
}

TEST(Frames, PacketSizesOfWholeFiles)
{
    struct Row
    {
        int size;
        QList<int> packets;
    } rows[] = {
        {1, {6}},
        {1024, {1029}},
        {1025, {1025, 6}},
        {2048, {1025, 1029}},
        {3000, {1025, 1025, 957}},
    };
    for (const Row& row : rows) {
        const QByteArray file = Pattern(row.size);
        for (int chunk : {1, 7, 4096}) {
            const Exchange result = Play(file, 19200, chunk);
            EXPECT_TRUE(result.finished) << row.size << " chunk " << chunk;
            EXPECT_EQ(result.packetSizes, row.packets) << row.size;
            EXPECT_EQ(result.received, file) << row.size << " chunk " << chunk;
        }
    }
}

TEST(Frames, HeaderSplitAcrossChunksWithNoiseBeforeIt)
{
    const QByteArray header = FrameHeader(9600, 3).Encode();
    ReceiveProtocol receiver;
    ReceiveProtocol::Step step = receiver.Feed(QByteArray("\x00\x13\xff", 3) + header.left(5));
    EXPECT_TRUE(step.headerStarted);
    EXPECT_FALSE(step.headerAccepted);
    step = receiver.Feed(header.mid(5) + "trailing junk is dropped");
    EXPECT_FALSE(step.headerStarted);
    EXPECT_TRUE(step.headerAccepted);
    // The packet end is followed by junk in the same chunk.
    step = receiver.Feed(QByteArray("noise") + Hex("11 61 62 63 00 00 01 26") + "\x11zz");
    EXPECT_TRUE(step.finished);
    EXPECT_EQ(receiver.Data(), QByteArray("abc"));
}

TEST(Frames, DamagedFramesFail)
{
    QByteArray header = FrameHeader(9600, 3).Encode();
    header[16] = char(header[16] + 1);
    ReceiveProtocol badCheck;
    EXPECT_EQ(badCheck.Feed(header).failure, ReceiveProtocol::Failure::HeaderCheck);
    EXPECT_EQ(badCheck.GetState(), ReceiveProtocol::State::Failed);

    // Headers no file can match: length 0, length above 2^31 - 1, speed 0.
    for (const FrameHeader& h :
         {FrameHeader(9600, 0), FrameHeader(9600, 0x80000000u), FrameHeader(0, 10)}) {
        ReceiveProtocol receiver;
        EXPECT_EQ(receiver.Feed(h.Encode()).failure, ReceiveProtocol::Failure::BadHeader);
    }

    ReceiveProtocol flipped;
    ASSERT_TRUE(flipped.Feed(FrameHeader(9600, 3).Encode()).headerAccepted);
    const ReceiveProtocol::Step step = flipped.Feed(Hex("11 61 62 64 00 00 01 26"));
    EXPECT_TRUE(step.packetDone);
    EXPECT_FALSE(step.finished);
    EXPECT_EQ(step.failure, ReceiveProtocol::Failure::DataChecksum);
}

TEST(Frames, SenderActsOnTheFirstControlByteAfterTheHeader)
{
    SendProtocol sender(Pattern(10), 38400);
    ASSERT_FALSE(sender.Feed(QByteArray(1, kDC2)).output.isEmpty());
    // DC4 then DC3 in one chunk: only the DC4 counts.
    SendProtocol::Step step = sender.Feed(QByteArray("\x14\x13", 2));
    EXPECT_TRUE(step.switchSpeed);
    EXPECT_TRUE(step.output.isEmpty());
    // A DC2 does not ask for packet 1; DC3 does.
    EXPECT_TRUE(sender.Feed(QByteArray(1, kDC2)).output.isEmpty());
    step = sender.Feed(QByteArray("\x13\x14", 2));
    EXPECT_FALSE(step.switchSpeed);
    EXPECT_EQ(step.output.size(), 15);
    EXPECT_TRUE(step.complete);
    EXPECT_TRUE(sender.Feed(QByteArray(1, kDC2)).output.isEmpty()); // nothing after the end
}

TEST(Frames, PercentTextRoundsHalfUp)
{
    EXPECT_EQ(PercentText(37, 100), "37%");
    EXPECT_EQ(PercentText(1, 8), "13%"); // 12.5 → 13
    EXPECT_EQ(PercentText(1, 3), "33%"); // 33.3
    EXPECT_EQ(PercentText(2, 3), "67%"); // 66.7
    EXPECT_EQ(PercentText(1024, 1025), "100%");
    EXPECT_EQ(PercentText(1, 200), "1%"); // 0.5 → 1
}
