// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeReceiver.h"
#include "transfer/TapeSender.h"

#include <functional>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

using P = TapeProfile;

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

TapeProfile Eia()
{
    TapeProfile p;
    p.code = TapeCodeKind::Eia;
    p.SetFrame("8N1");
    p.endOfBlock = P::EndOfBlock::Cr;
    return p;
}

// Sends a whole file, its bytes given chunk by chunk, taking at most take
// bytes at a time; returns the wire bytes.
QByteArray SendAll(const TapeProfile& profile, const QByteArray& file, int chunk, int take)
{
    TapeSender sender(profile);
    QByteArray wire;
    qsizetype fed = 0;
    for (int guard = 0; guard < 100000 && sender.CurrentState() != TapeSender::State::Done;
         ++guard) {
        if (sender.CurrentState() == TapeSender::State::SourceStarved || fed == 0) {
            sender.AddSource(
                QByteArrayView(file).sliced(fed, qMin<qsizetype>(chunk, file.size() - fed)));
            fed = qMin<qsizetype>(fed + chunk, file.size());
            if (fed == file.size())
                sender.EndOfSource();
        }
        const QByteArray out = sender.Take(take);
        EXPECT_LE(out.size(), take);
        wire += out;
    }
    EXPECT_EQ(sender.CurrentState(), TapeSender::State::Done);
    EXPECT_EQ(sender.FileCharactersSent(), file.size());
    EXPECT_EQ(sender.WireBytesTaken(), wire.size());
    return wire;
}

} // namespace

TEST(TapeSender, WireBytesOfAFile)
{
    const struct
    {
        std::function<void(P&)> change;
        QByteArray file;
        QByteArray wire;
    } rows[] = {
        {[](P&) {}, "O1\nG0\n", "%\nO1\nG0\n%\n"},
        {[](P& p) { p.endOfBlock = P::EndOfBlock::CrLf; }, "%\r\nO1\r\n%\r\n", "%\r\nO1\r\n%\r\n"},
        {[](P& p) { p.endOfBlock = P::EndOfBlock::Cr; }, "O1\rG0", "%\rO1\rG0\r%\r"},
        {[](P&) {}, "\n \n%\nO1\n\n  G0\n%\n\n\n", "%\nO1\n\n  G0\n%\n"},
        {[](P&) {}, "", "%\n%\n"},
        {[](P&) {}, "%", "%\n%\n"},
        {[](P&) {}, "O1\n%\n(AFTER)", "%\nO1\n%\n(AFTER)\n%\n"},
        {[](P& p) { p.leader = 3, p.trailer = 2, p.dcCodes = true; }, "O1",
         QByteArray("\x12\0\0\0%\nO1\n%\n\0\0\x14", 14)},
        {[](P& p) { p = Eia(); }, "O1 (X)\n", Hex("0b80 4601101a374a80 0b80")},
    };
    for (const auto& row : rows) {
        P p;
        row.change(p);
        SCOPED_TRACE(row.file.toStdString());
        EXPECT_EQ(SendAll(p, row.file, 1 << 20, 1 << 20), row.wire);
        EXPECT_EQ(SendAll(p, row.file, 1, 1), row.wire);
        EXPECT_EQ(SendAll(p, row.file, 3, 2), row.wire);
    }
}

TEST(TapeSender, FlowControlHoldsAndReleases)
{
    P p;
    p.startOn = P::StartOn::Xon;
    TapeSender sender(p);
    sender.AddSource("O1\nG0\n");
    sender.EndOfSource();
    EXPECT_EQ(sender.CurrentState(), TapeSender::State::WaitingForXon);
    sender.OnReceived("\x13", 100);
    EXPECT_EQ(sender.Take(100), QByteArray());
    sender.OnReceived("\x11", 200);
    EXPECT_EQ(sender.MsSinceFlowChange(250), 50);
    EXPECT_EQ(sender.Take(3), "%\nO");
    EXPECT_EQ(sender.FileCharactersSent(), 1);
    sender.OnReceived("x\x13", 300);
    EXPECT_EQ(sender.CurrentState(), TapeSender::State::Held);
    EXPECT_EQ(sender.Take(100), QByteArray());
    EXPECT_EQ(sender.MsSinceFlowChange(400), 100);
    sender.OnReceived("\x13\x11", 500);
    EXPECT_EQ(sender.Take(0), QByteArray());
    EXPECT_EQ(sender.Take(100), "1\nG0\n%\n");
    EXPECT_EQ(sender.CurrentState(), TapeSender::State::Done);
    EXPECT_EQ(sender.Take(100), QByteArray());

    // Without XON/XOFF, DC3 does not hold, but the first DC1 still starts.
    for (const P::Handshake h : {P::Handshake::None, P::Handshake::RtsCts}) {
        p.handshake = h;
        TapeSender other(p);
        other.AddSource("O1");
        other.EndOfSource();
        other.OnReceived("\x11\x13");
        EXPECT_EQ(other.MsSinceFlowChange(0), std::nullopt);
        EXPECT_EQ(other.Take(100), "%\nO1\n%\n");
    }

    TapeSender starved{P{}};
    starved.AddSource("O1\nG");
    EXPECT_EQ(starved.Take(100), "%\nO1\nG");
    EXPECT_EQ(starved.CurrentState(), TapeSender::State::SourceStarved);

    TapeSender refused{Eia()};
    refused.AddSource("O1\n");
    refused.AddSource("G0 x1\n");
    EXPECT_EQ(refused.CurrentState(), TapeSender::State::Refused);
    EXPECT_EQ(refused.Take(100), QByteArray());
    EXPECT_EQ(refused.RefusedAt(), (TextPosition{2, 4, 6}));
}

TEST(TapeReceiver, CollectsTheProgramOrSaysWhereItFailed)
{
    using S = TapeReceiver::State;
    using F = TapeReceiver::Failure;
    const struct
    {
        std::function<void(P&)> change;
        QByteArray input;
        S state;
        F failure;
        qint64 line, column;
        QByteArray text;
    } rows[] = {
        {[](P&) {}, QByteArray("\0\0\x12\x11%\nO1\nG0\x7f\n%\n\x14\0", 18), S::Complete, F::None, 0,
         0, "%\nO1\nG0\n%\n"},
        {[](P& p) { p.savedLineEnd = P::SavedLineEnd::CrLf; }, "%\r\nO1\r\n\r\n%", S::Complete,
         F::None, 0, 0, "%\r\nO1\r\n\r\n%\r\n"},
        {[](P&) {}, "\n%\rO1\r\r%", S::Complete, F::None, 0, 0, "%\nO1\n\n%\n"},
        {[](P&) {}, "%\n\r\rO1\n\r\r%", S::Complete, F::None, 0, 0, "%\nO1\n%\n"},
        {[](P&) {}, "%\nO1", S::InProgram, F::None, 0, 0, "%\nO1"},
        {[](P&) {}, QByteArray("%\nO1\xff\0X", 7), S::Failed, F::Parity, 2, 3, "%\nO1"},
        {[](P&) {}, "%\nO\xff\xff", S::Failed, F::UnknownCode, 2, 2, "%\nO"},
        {[](P&) {}, QByteArray("%\nO1\xff\0\0", 7), S::Failed, F::Break, 2, 3, "%\nO1"},
        {[](P&) {}, QByteArray("\xff\0\0", 3), S::WaitingForData, F::None, 0, 0, ""},
        {[](P&) {}, "%\nO\x01", S::Failed, F::UnknownCode, 2, 2, "%\nO"},
        {[](P& p) { p.SetFrame("8N1"); }, "%\nO\xff", S::Failed, F::UnknownCode, 2, 2, "%\nO"},
        {[](P& p) { p.tvCheck = true; }, "%\nO12\nO1\n", S::Failed, F::TvCheck, 3, 3, "%\nO12\nO1"},
        {[](P& p) { p = Eia(); }, Hex("00 12 0b 80 46 13 7f 01 2a 80 0b 14"), S::Complete, F::None,
         0, 0, "%\nO31\n%\n"},
        {[](P& p) { p = Eia(); }, Hex("0b 80 46 03"), S::Failed, F::EvenHoles, 2, 2, "%\nO"},
        {[](P& p) { p = Eia(); }, Hex("0b 80 46 0d"), S::Failed, F::UnknownCode, 2, 2, "%\nO"},
        {[](P& p) { p.endRule = P::EndRule::Idle; }, QByteArray("\0\n\nBEGIN\n%\n", 11),
         S::InProgram, F::None, 0, 0, "BEGIN\n%\n"},
    };
    for (const auto& row : rows) {
        P p;
        row.change(p);
        SCOPED_TRACE(row.input.toHex().toStdString());
        TapeReceiver whole(p);
        whole.Feed(row.input, 0);
        TapeReceiver bytewise(p);
        for (const char c : row.input)
            bytewise.Feed(QByteArrayView(&c, 1), 0);
        for (const TapeReceiver* r : {&whole, &bytewise}) {
            EXPECT_EQ(r->CurrentState(), row.state);
            EXPECT_EQ(r->FailureKind(), row.failure);
            EXPECT_EQ(r->Text(), row.text);
            if (row.line != 0) {
                EXPECT_EQ(r->FailurePosition().line, row.line);
                EXPECT_EQ(r->FailurePosition().column, row.column);
            }
        }
    }
}

TEST(TapeReceiver, IdleTimeEndsOrFailsAProgram)
{
    P p;
    p.idleSeconds = 5;
    TapeReceiver waiting(p);
    waiting.Poll(1'000'000'000);
    EXPECT_EQ(waiting.CurrentState(), TapeReceiver::State::WaitingForData);

    TapeReceiver silent(p);
    silent.Feed("%\nO1\nG", 1000);
    silent.Poll(5999);
    EXPECT_EQ(silent.CurrentState(), TapeReceiver::State::InProgram);
    EXPECT_EQ(silent.LinesReceived(), 2);
    EXPECT_EQ(silent.BytesReceived(), 6);
    silent.Poll(6000);
    EXPECT_EQ(silent.FailureKind(), TapeReceiver::Failure::Silence);
    EXPECT_EQ(silent.FailurePosition(), (TextPosition{3, 2, 6}));
    EXPECT_EQ(silent.TakeText(), "%\nO1\nG");
    EXPECT_EQ(silent.Text(), QByteArray());

    p.endRule = P::EndRule::Idle;
    TapeReceiver idle(p);
    idle.Feed("L X1\nL X2", 0);
    idle.Feed(" Y1", 4000);
    idle.Poll(8999);
    EXPECT_EQ(idle.CurrentState(), TapeReceiver::State::InProgram);
    idle.Poll(9000);
    EXPECT_EQ(idle.CurrentState(), TapeReceiver::State::Complete);
    EXPECT_EQ(idle.Text(), "L X1\nL X2 Y1\n");
    idle.Feed("late", 9100);
    EXPECT_EQ(idle.Text(), "L X1\nL X2 Y1\n");
}
