// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/UartModel.h"

#include <gtest/gtest.h>

using namespace tapeway;

namespace {

using Frame = UartModel::Frame;

// Wire times worked out by hand: bits per character / baud, in ns, truncated.
constexpr qint64 k8N1At9600 = 1041666; // 10 / 9600 s
constexpr qint64 k7E2At9600 = 1145833; // 11 / 9600 s
constexpr qint64 k8N1At19200 = 520833; // 10 / 19200 s
constexpr qint64 k7E2At38400 = 286458; // 11 / 38400 s
constexpr qint64 kSecond = 1000000000;

TEST(UartModelTest, FramesFromText)
{
    struct Row
    {
        const char* text;
        int bits; // 0: refused
        const char* written;
    };
    const Row rows[] = {{"8N1", 10, "8N1"}, {"7E2", 11, "7E2"}, {"7e1", 10, "7E1"},
                        {"8O2", 12, "8O2"}, {"5S1", 8, "5S1"},  {"9N1", 0, ""},
                        {"8X1", 0, ""},     {"8N3", 0, ""},     {"8N1.5", 0, ""},
                        {"", 0, ""}};
    for (const Row& row : rows) {
        const std::optional<Frame> frame = Frame::Parse(QString::fromLatin1(row.text));
        EXPECT_EQ(frame ? frame->BitsPerCharacter() : 0, row.bits) << row.text;
        EXPECT_EQ(frame ? frame->ToString() : QString(), QLatin1String(row.written)) << row.text;
    }
    EXPECT_EQ(UartModel::CharacterNs(*Frame::Parse("7E2"), 110), 100000000);
    EXPECT_EQ(UartModel::CharacterNs(Frame{}, 0), k8N1At9600); // unknown speed: as 9600
}

// Scripts of what the driver hands over, flow control and the clock, each
// step checked against the times a UART with a 16-byte FIFO gives.
TEST(UartModelTest, Scripts)
{
    enum Op
    {
        Take,    // expect 1: all repeat bytes taken, 0: refused
        Deliver, // baud: the speed now; expect: the end of the last, -1 none
        Stop,
        Start
    };
    struct Step
    {
        Op op;
        int repeat;
        qint64 atNs;
        int baud;
        qint64 expect;
        int room; // Room() after the step
    };
    struct Row
    {
        const char* name;
        const char* frame;
        std::vector<Step> steps;
    };
    const Row rows[] = {
        {"one on the wire, sixteen in the FIFO, then refused",
         "8N1",
         {{Take, 17, 0, 9600, 1, 0}, {Take, 1, 0, 9600, 0, 0}}},
        {"back to back: each starts when the one before ended",
         "8N1",
         {{Take, 3, 0, 9600, 1, 14},
          {Deliver, 1, k8N1At9600 - 1, 9600, -1, 14},
          {Deliver, 1, k8N1At9600, 9600, k8N1At9600, 15},
          {Deliver, 2, kSecond, 9600, 3 * k8N1At9600, 17}}},
        {"7E2; an idle line starts a byte when taken",
         "7E2",
         {{Take, 1, 0, 9600, 1, 16},
          {Deliver, 1, 5000000, 9600, k7E2At9600, 17},
          {Take, 1, 5000000, 38400, 1, 16},
          {Deliver, 1, kSecond, 9600, 5000000 + k7E2At38400, 17}}},
        {"stopped: takes nothing, drains all it holds, then takes again",
         "8N1",
         {{Take, 17, 0, 9600, 1, 0},
          {Stop, 1, 0, 0, 0, 0},
          {Take, 1, 0, 9600, 0, 0},
          {Deliver, 17, kSecond, 9600, 17 * k8N1At9600, 0},
          {Deliver, 1, kSecond, 9600, -1, 0},
          {Start, 1, 0, 0, 0, 17},
          {Take, 1, kSecond, 9600, 1, 16},
          {Deliver, 1, 2 * kSecond, 9600, kSecond + k8N1At9600, 17}}},
        {"a byte in the FIFO starts at the speed in force when it starts",
         "8N1",
         {{Take, 2, 0, 9600, 1, 15},
          {Deliver, 1, k8N1At9600, 19200, k8N1At9600, 16},
          {Deliver, 1, kSecond, 9600, k8N1At9600 + k8N1At19200, 17}}},
    };
    for (const Row& row : rows) {
        UartModel uart;
        uart.SetFrame(*Frame::Parse(QString::fromLatin1(row.frame)));
        for (size_t s = 0; s < row.steps.size(); ++s) {
            const Step& step = row.steps[s];
            SCOPED_TRACE(testing::Message() << row.name << ", step " << s);
            for (int i = 0; i < step.repeat; ++i) {
                if (step.op == Take) {
                    EXPECT_EQ(uart.Take(quint8(i), step.atNs, step.baud), step.expect == 1);
                } else if (step.op == Deliver) {
                    const auto sent = uart.Deliver(step.atNs, step.baud);
                    if (i + 1 == step.repeat)
                        EXPECT_EQ(sent ? sent->endNs : -1, step.expect);
                    else
                        EXPECT_TRUE(sent.has_value());
                } else {
                    uart.SetStopped(step.op == Stop);
                }
            }
            EXPECT_EQ(uart.Room(), step.room);
        }
    }
}

} // namespace
