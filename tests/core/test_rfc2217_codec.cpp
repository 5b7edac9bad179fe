// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/Rfc2217Codec.h"

#include <gtest/gtest.h>

using namespace tapeway;

namespace {

QByteArray H(const char* hex)
{
    return QByteArray::fromHex(hex);
}

using Reply = Rfc2217Codec::Reply;
using ComPort = Rfc2217Codec::ComPortState;

// Byte values from RFC 854 (IAC ff, DONT fe, DO fd, WONT fc, WILL fb, SB fa,
// GA f9, DM f2, NOP f1, SE f0), RFC 856 (binary 00), RFC 857 (echo 01), RFC
// 858 (suppress go-ahead 03), RFC 1091 (terminal type 18) and RFC 2217 (com
// port option 2c; the server's codes are the client's plus 100).
struct Row
{
    const char* what;
    bool opened; // the client's Opening() went out first
    QByteArray in;
    QByteArray data;
    QByteArray answer;
    QList<Reply> replies;
    ComPort comPort;
};

} // namespace

TEST(Rfc2217Codec, ServerBytesWholeAndOneByOne)
{
    const QByteArray signature = H("fffa2c00") + "TAPEWAY" + H("fff0");
    // clang-format off
    const QList<Row> rows = {
        {"IAC IAC is one data byte 255", false, H("41ffff42"), H("41ff42"), {}, {}, ComPort::Unasked},
        {"NOP, data mark and go-ahead carry no data", false, H("41fff142fff243fff9"), H("414243"), {}, {}, ComPort::Unasked},
        {"the server agrees to the opening: no answer", true, H("fffd2cfffb00fffd00fffb03fffd03"), {}, {}, {}, ComPort::Agreed},
        {"the server refuses the com port option", true, H("fffe2c"), {}, {}, {}, ComPort::Refused},
        {"a server that will echo is told not to", true, H("fffb01"), {}, H("fffe01"), {}, ComPort::Asked},
        {"an option this side lacks is refused", false, H("fffd18"), {}, H("fffc18"), {}, ComPort::Unasked},
        {"binary offered unasked is accepted", false, H("fffb00"), {}, H("fffd00"), {}, ComPort::Unasked},
        {"a mode already in force is not acknowledged", true, H("fffb00fffb00fffd00fffd00"), {}, {}, {}, ComPort::Asked},
        {"SET-BAUDRATE answer, four octets in network order", false, H("fffa2c6500009600fff0"), {}, {}, {{1, H("00009600"), 0}}, ComPort::Unasked},
        {"IAC doubled inside a subnegotiation", false, H("fffa2c65000000fffffff0"), {}, {}, {{1, H("000000ff"), 0}}, ComPort::Unasked},
        {"a purge answer between data bytes", false, H("4142fffa2c7001fff043"), H("414243"), {}, {{12, H("01"), 2}}, ComPort::Unasked},
        {"SET-CONTROL answer: hardware flow control in force", false, H("fffa2c6903fff0"), {}, {}, {{5, H("03"), 0}}, ComPort::Unasked},
        {"modem state and flow control suspend", false, H("fffa2c6b30fff0fffa2c6cfff0"), {}, {}, {{7, H("30"), 0}, {8, {}, 0}}, ComPort::Unasked},
        {"the server asks for the signature", false, H("fffa2c64fff0"), {}, signature, {{0, {}, 0}}, ComPort::Unasked},
        {"a refusal is said once, not for every repeat", false, H("fffb01fffb01fffd18fffd18fffb01"), {}, H("fffe01fffc18"), {}, ComPort::Unasked},
        {"a refusal taken back may be asked and refused again", false, H("fffb01fffc01fffb01fffc01"), {}, H("fffe01fffe01"), {}, ComPort::Unasked},
        {"each change of a wanted option is answered once", false, H("fffb00fffb00fffc00fffc00"), {}, H("fffd00fffe00"), {}, ComPort::Unasked},
        {"a repeated signature request is answered once", false, H("fffa2c64fff0fffa2c64fff0fffa2c64fff0"), {}, signature, {{0, {}, 0}, {0, {}, 0}, {0, {}, 0}}, ComPort::Unasked},
        {"CR NUL outside binary mode is CR", false, H("0d00410d0a"), H("0d410d0a"), {}, {}, ComPort::Unasked},
        {"CR NUL in binary mode is data", true, H("fffb000d00"), H("0d00"), {}, {}, ComPort::Asked},
    };
    // clang-format on
    for (const Row& row : rows) {
        for (const bool oneByOne : {false, true}) {
            Rfc2217Codec codec;
            if (row.opened)
                codec.Opening();
            Rfc2217Codec::Decoded all;
            const qsizetype step = oneByOne ? 1 : row.in.size();
            for (qsizetype i = 0; i < row.in.size(); i += step) {
                const Rfc2217Codec::Decoded part =
                    codec.Feed(QByteArrayView(row.in).sliced(i, step));
                for (Reply reply : part.replies) {
                    reply.dataOffset += all.data.size();
                    all.replies << reply;
                }
                all.data += part.data;
                all.answer += part.answer;
            }
            const std::string label = std::string(row.what) + (oneByOne ? " (byte by byte)" : "");
            EXPECT_EQ(all.data.toHex(), row.data.toHex()) << label;
            EXPECT_EQ(all.answer.toHex(), row.answer.toHex()) << label;
            EXPECT_EQ(all.replies, row.replies) << label;
            EXPECT_EQ(codec.ComPort(), row.comPort) << label;
        }
    }
}

TEST(Rfc2217Codec, WhatTheClientSends)
{
    Rfc2217Codec codec;
    EXPECT_EQ(codec.Opening().toHex(), H("fffb00fffd00fffb03fffd03fffb2c").toHex());
    EXPECT_EQ(codec.ComPort(), ComPort::Asked);
    const std::pair<QByteArray, const char*> requests[] = {
        {Rfc2217Codec::SetBaudRate(9600), "fffa2c0100002580fff0"},
        {Rfc2217Codec::SetBaudRate(65535), "fffa2c010000fffffffffff0"},
        {Rfc2217Codec::SetDataSize(8), "fffa2c0208fff0"},
        {Rfc2217Codec::SetParity('N'), "fffa2c0301fff0"},
        {Rfc2217Codec::SetParity('O'), "fffa2c0302fff0"},
        {Rfc2217Codec::SetParity('E'), "fffa2c0303fff0"},
        {Rfc2217Codec::SetStopSize(10), "fffa2c0401fff0"},
        {Rfc2217Codec::SetStopSize(20), "fffa2c0402fff0"},
        {Rfc2217Codec::SetStopSize(15), "fffa2c0403fff0"},
        {Rfc2217Codec::SetControl(Rfc2217Codec::kXonXoffFlowControl), "fffa2c0502fff0"},
        {Rfc2217Codec::SetControl(Rfc2217Codec::kHardwareFlowControl), "fffa2c0503fff0"},
        {Rfc2217Codec::SetControl(Rfc2217Codec::kDtrOff), "fffa2c0509fff0"},
        {Rfc2217Codec::SetControl(Rfc2217Codec::kRtsOff), "fffa2c050cfff0"},
        {Rfc2217Codec::PurgeData(Rfc2217Codec::kPurgeReceive), "fffa2c0c01fff0"},
    };
    for (const auto& [bytes, hex] : requests)
        EXPECT_EQ(bytes.toHex(), QByteArray(hex)) << hex;
    // Outside binary mode a carriage return is followed by NUL; IAC is doubled always.
    EXPECT_EQ(codec.EncodeData(H("ff0d41")).toHex(), H("ffff0d0041").toHex());
    codec.Feed(H("fffd00"));
    EXPECT_TRUE(codec.SendsBinary());
    EXPECT_EQ(codec.EncodeData(H("ff0d41")).toHex(), H("ffff0d41").toHex());
    EXPECT_EQ(Rfc2217Codec::ValueOf(H("00009600")), 38400u);
}

TEST(Rfc2217Codec, SignatureAskedAgainIsAnsweredOnlyLaterOrWhenChanged)
{
    const QByteArray ask = H("fffa2c64fff0");
    Rfc2217Codec codec;
    codec.SetSignature("A");
    EXPECT_EQ(codec.Feed(ask, 1000).answer, Rfc2217Codec::Request(0, "A"));
    EXPECT_TRUE(codec.Feed(ask, 1000 + Rfc2217Codec::kSignatureRepeatMs - 1).answer.isEmpty());
    EXPECT_EQ(codec.Feed(ask, 1000 + Rfc2217Codec::kSignatureRepeatMs).answer,
              Rfc2217Codec::Request(0, "A"));
    codec.SetSignature("B");
    EXPECT_EQ(codec.Feed(ask, 1000 + Rfc2217Codec::kSignatureRepeatMs).answer,
              Rfc2217Codec::Request(0, "B"));
}
