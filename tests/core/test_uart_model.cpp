#include "serial/UartModel.h"

#include <gtest/gtest.h>

using namespace tapeway;

namespace {

using Frame = UartModel::Frame;
using Parity = Frame::Parity;

// Wire times worked out by hand: bits per character / baud, in ns, truncated.
constexpr qint64 k8N1At9600 = 1041666;  // 10 / 9600 s
constexpr qint64 k7E2At9600 = 1145833;  // 11 / 9600 s
constexpr qint64 k8N1At19200 = 520833;  // 10 / 19200 s
constexpr qint64 k7E2At38400 = 286458;  // 11 / 38400 s
constexpr qint64 k7E2At110 = 100000000; // 11 / 110 s

TEST(UartModelTest, FramesFromText)
{
    struct Row
    {
        const char* text;
        std::optional<Frame> frame;
        int bits;
        const char* written;
    };
    const Row rows[] = {
        {"8N1", Frame{8, Parity::None, 1}, 10, "8N1"},
        {"7E2", Frame{7, Parity::Even, 2}, 11, "7E2"},
        {"7e1", Frame{7, Parity::Even, 1}, 10, "7E1"},
        {"8O2", Frame{8, Parity::Odd, 2}, 12, "8O2"},
        {"7S1", Frame{7, Parity::Space, 1}, 10, "7S1"},
        {"5N1", Frame{5, Parity::None, 1}, 7, "5N1"},
        {"9N1", std::nullopt, 0, ""},
        {"4N1", std::nullopt, 0, ""},
        {"8X1", std::nullopt, 0, ""},
        {"8N3", std::nullopt, 0, ""},
        {"8N1.5", std::nullopt, 0, ""},
        {"7E", std::nullopt, 0, ""},
        {"", std::nullopt, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const std::optional<Frame> frame = Frame::Parse(QString::fromLatin1(row.text));
        ASSERT_EQ(frame, row.frame);
        if (frame) {
            EXPECT_EQ(frame->BitsPerCharacter(), row.bits);
            EXPECT_EQ(frame->ToString(), QLatin1String(row.written));
        }
    }
    EXPECT_EQ(Frame{}.BitsPerCharacter(), 10);
    EXPECT_EQ((Frame{7, Parity::Even, 2}.DataMask()), 0x7F);
    EXPECT_EQ(UartModel::CharacterNs(Frame{7, Parity::Even, 2}, 110), k7E2At110);
    EXPECT_EQ(UartModel::CharacterNs(Frame{}, 0), k8N1At9600); // unknown speed: as 9600
}

// Scripts of what the driver hands over, flow control and the clock, each
// step checked against the times a UART with a 16-byte FIFO gives.
TEST(UartModelTest, Scripts)
{
    enum Op
    {
        Take,    // a byte at atNs, speed baud; expect 1 taken, 0 refused
        Deliver, // at atNs, speed now baud; expect the end of what left, -1 none
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
        Frame frame;
        std::vector<Step> steps;
        int sentBaud = 0; // when set: the speed of the last character delivered
    };
    const Row rows[] = {
        {"one byte on the wire and sixteen in the FIFO, the rest refused",
         Frame{},
         {{Take, 17, 0, 9600, 1, 0}, {Take, 1, 0, 9600, 0, 0}}},
        {"back to back: each starts when the one before ended",
         Frame{},
         {{Take, 3, 0, 9600, 1, 14},
          {Deliver, 1, k8N1At9600 - 1, 9600, -1, 14},
          {Deliver, 1, k8N1At9600, 9600, k8N1At9600, 15},
          {Deliver, 1, 10 * k8N1At9600, 9600, 2 * k8N1At9600, 16},
          {Deliver, 1, 10 * k8N1At9600, 9600, 3 * k8N1At9600, 17},
          {Deliver, 1, 10 * k8N1At9600, 9600, -1, 17}}},
        {"7E2 takes eleven bits",
         Frame{7, Parity::Even, 2},
         {{Take, 2, 1000, 9600, 1, 15},
          {Deliver, 2, 1000000000, 9600, 1000 + 2 * k7E2At9600, 17},
          {Take, 1, 5000000, 38400, 1, 16},
          {Deliver, 1, 1000000000, 38400, 5000000 + k7E2At38400, 17}}},
        {"an idle line starts a byte when taken, never before the last ended",
         Frame{},
         {{Take, 1, 0, 9600, 1, 16},
          {Deliver, 1, 5000000, 9600, k8N1At9600, 17},
          {Take, 1, 5000000, 9600, 1, 16},
          {Deliver, 1, 5000000 + k8N1At9600, 9600, 5000000 + k8N1At9600, 17}}},
        {"stopped: takes nothing, drains all it holds, then takes again",
         Frame{},
         {{Take, 17, 0, 9600, 1, 0},
          {Stop, 1, 0, 0, 0, 0},
          {Take, 1, 0, 9600, 0, 0},
          {Deliver, 16, 1000000000, 9600, 16 * k8N1At9600, 0},
          {Deliver, 1, 1000000000, 9600, 17 * k8N1At9600, 0},
          {Deliver, 1, 1000000000, 9600, -1, 0},
          {Start, 1, 0, 0, 0, 17},
          {Take, 1, 1000000000, 9600, 1, 16},
          {Deliver, 1, 2000000000, 9600, 1000000000 + k8N1At9600, 17}}},
        {"stopped with room: still takes nothing",
         Frame{},
         {{Stop, 1, 0, 0, 0, 0}, {Take, 1, 0, 9600, 0, 0}, {Deliver, 1, 1000000000, 9600, -1, 0}}},
        {"a byte in the FIFO starts at the speed in force when it starts",
         Frame{},
         {{Take, 2, 0, 9600, 1, 15},
          {Deliver, 1, k8N1At9600, 19200, k8N1At9600, 16},
          {Deliver, 1, 1000000000, 9600, k8N1At9600 + k8N1At19200, 17}},
         19200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UartModel uart;
        uart.SetFrame(row.frame);
        std::optional<UartModel::Character> last;
        int stepIndex = 0;
        for (const Step& step : row.steps) {
            SCOPED_TRACE(stepIndex++);
            for (int i = 0; i < step.repeat; ++i) {
                switch (step.op) {
                case Take:
                    EXPECT_EQ(uart.Take(quint8(i), step.atNs, step.baud), step.expect == 1);
                    break;
                case Deliver: {
                    const std::optional<UartModel::Character> sent =
                        uart.Deliver(step.atNs, step.baud);
                    if (i + 1 == step.repeat)
                        EXPECT_EQ(sent ? sent->endNs : -1, step.expect);
                    else
                        EXPECT_TRUE(sent.has_value());
                    if (sent)
                        last = sent;
                    break;
                }
                case Stop:
                    uart.SetStopped(true);
                    EXPECT_EQ(uart.GetState(), UartModel::State::Stopped);
                    break;
                case Start:
                    uart.SetStopped(false);
                    break;
                }
            }
            EXPECT_EQ(uart.Room(), step.room);
        }
        if (row.sentBaud) {
            ASSERT_TRUE(last.has_value());
            EXPECT_EQ(last->baud, row.sentBaud);
            EXPECT_EQ(last->startNs, k8N1At9600);
        }
        if (uart.GetState() != UartModel::State::Stopped) {
            EXPECT_EQ(uart.GetState(),
                      uart.Held() ? UartModel::State::Sending : UartModel::State::Idle);
        }
    }
}

} // namespace
