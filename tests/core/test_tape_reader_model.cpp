// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeReaderModel.h"

#include <gtest/gtest.h>
#include <vector>

using namespace tapeway;

namespace {

using Settings = TapeReaderModel::Settings;

// One call on the model: 'p' PressRead, 'r' Receive(n), 'a' Advance, each
// at atUs and giving out; 'c' NextChangeUs is n (-1: none).
struct Step
{
    char op;
    qint64 n;
    qint64 atUs;
    QByteArray out;
};

Settings Line(int buffer, int xoffAt, int xonAt, int rate)
{
    Settings s;
    s.bufferSize = buffer;
    s.xoffAt = xoffAt;
    s.xonAt = xonAt;
    s.charactersPerSecond = rate;
    s.characterUs = 1000; // 10 bits at 10000 baud
    return s;
}

Settings WithHold(Settings s, qint64 after, qint64 us)
{
    s.holdAfter = after;
    s.holdUs = us;
    return s;
}

Settings WithoutFlowControl(Settings s)
{
    s.flowControl = false;
    return s;
}

} // namespace

TEST(TapeReaderModel, FlowControlBytesAndCounts)
{
    const QByteArray xon(1, 0x11), xoff(1, 0x13);
    const struct
    {
        const char* name;
        Settings settings;
        std::vector<Step> steps;
        qint64 overruns;
        qint64 mostAfterXoff;
        qint64 emptyUs = 0; // after the first fill
        qint64 timesRanDry = 0;
    } rows[] = {
        // One character taken a millisecond: 8 fill it to DC3; the three at
        // 1 ms came after the DC3 had left (0 + 1 ms), the fourth overruns
        // the full buffer; six more takes bring it to 4 at 7 ms.
        {"threshold",
         Line(10, 8, 4, 1000),
         {{'r', 8, 0, xoff},
          {'r', 3, 1000, {}},
          {'r', 1, 1500, {}},
          {'c', 7000, 0, {}},
          {'a', 0, 6999, {}},
          {'a', 0, 7000, xon},
          {'c', -1, 0, {}}},
         1,
         4},
        // The fifth character starts a 50 ms hold; the two after it in the
        // same read were sent before the DC3 was, the two at 1.1 ms after.
        {"hold",
         WithHold(Line(256, 224, 64, 0), 5, 50000),
         {{'r', 4, 0, {}},
          {'r', 3, 100, xoff},
          {'r', 2, 1100, {}},
          {'c', 50100, 0, {}},
          {'a', 0, 50099, {}},
          {'a', 0, 50100, xon},
          {'r', 1, 60000, {}}},
         0,
         2},
        // READ at the start; hold and full buffer at once give one DC3, and
        // READ while held waits for the DC1 that ends both.
        {"start, hold and full together",
         WithHold(Line(10, 8, 2, 1000), 8, 3000),
         {{'p', 0, 0, xon},
          {'r', 8, 0, xoff},
          {'p', 0, 1000, {}},
          {'c', 6000, 0, {}},
          {'a', 0, 3000, {}},
          {'a', 0, 6000, xon}},
         0,
         0},
        // Without flow control only READ's DC1 goes out; the buffer overruns.
        {"no flow control",
         WithoutFlowControl(Line(10, 8, 4, 1000)),
         {{'p', 0, 0, xon}, {'r', 12, 0, {}}, {'c', -1, 0, {}}},
         2,
         0},
        // Fed slower than it reads: empty from the last take at 8 ms to the
        // character at 10 ms; that one starts a hold to 15 ms, so of its
        // emptiness from 11 ms only 15 to 16 ms counts.
        {"fed slower than it reads",
         WithHold(Line(10, 8, 4, 1000), 9, 5000),
         {{'r', 8, 0, xoff},
          {'a', 0, 4000, xon},
          {'r', 1, 10000, xoff},
          {'a', 0, 15000, xon},
          {'r', 1, 16000, {}}},
         0,
         0,
         3000,
         2},
        // Fed faster than it reads: the DC1 at fill 4 brings more before it
        // empties. Its emptiness from 1 to 3 ms came before the first fill.
        {"fed faster than it reads",
         Line(10, 8, 4, 1000),
         {{'r', 1, 0, {}},
          {'r', 8, 3000, xoff},
          {'a', 0, 7000, xon},
          {'r', 4, 8000, {}},
          {'r', 4, 11000, xoff}},
         0,
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(row.settings.IsValid());
        TapeReaderModel model(row.settings);
        for (const Step& step : row.steps) {
            SCOPED_TRACE(testing::Message() << step.op << " at " << step.atUs);
            if (step.op == 'c') {
                EXPECT_EQ(model.NextChangeUs().value_or(-1), step.n);
                continue;
            }
            const QByteArray out = step.op == 'p'   ? model.PressRead(step.atUs)
                                   : step.op == 'r' ? model.Receive(step.n, step.atUs)
                                                    : model.Advance(step.atUs);
            EXPECT_EQ(out.toHex(), step.out.toHex());
        }
        EXPECT_EQ(model.Overruns(), row.overruns);
        EXPECT_EQ(model.MostCharactersAfterXoff(), row.mostAfterXoff);
        EXPECT_EQ(model.EmptyUs(), row.emptyUs);
        EXPECT_EQ(model.TimesRanDry(), row.timesRanDry);
    }
}
