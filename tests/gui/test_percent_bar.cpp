// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CPercentBar.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <limits>

namespace {

const QColor kBar(0, 0, 255);
const QColor kBackground(255, 255, 255);
const QColor kText(255, 0, 0);
const QColor kTextOnBar(255, 255, 0);
const QColor kUntouched(255, 0, 255);
// The bar's frame is one pixel, so the client area is 200 × 20 pixels.
constexpr int kClientWidth = 200;
constexpr int kClientHeight = 20;

// A bar that counts its paints.
class CountingBar : public CPercentBar
{
public:
    int m_paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++m_paints;
        CPercentBar::paintEvent(event);
    }
};

void Prepare(CPercentBar& bar)
{
    bar.resize(kClientWidth + 2, kClientHeight + 2);
    bar.SetBarColour(kBar);
    bar.SetBgColour(kBackground);
    bar.SetTextColour(kText);
    bar.SetTextOnBarColour(kTextOnBar);
    // Plain glyph pixels, so each one is exactly one of the two text colours.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    bar.setFont(font);
}

// Renders the bar over a magenta picture; no background is drawn for it.
QImage Render(CPercentBar& bar)
{
    QImage image(bar.size(), QImage::Format_ARGB32);
    image.fill(kUntouched);
    bar.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

struct ColourCount
{
    int bar = 0;
    int background = 0;
    int text = 0;
    int textOnBar = 0;
    int other = 0;
};

// Counts the colours in the client columns [from, to).
ColourCount Count(const QImage& image, int from, int to)
{
    ColourCount count;
    for (int y = 1; y <= kClientHeight; ++y) {
        for (int x = 1 + from; x < 1 + to; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == kBar)
                ++count.bar;
            else if (c == kBackground)
                ++count.background;
            else if (c == kText)
                ++count.text;
            else if (c == kTextOnBar)
                ++count.textOnBar;
            else
                ++count.other;
        }
    }
    return count;
}

// The colour of the client area's top row at client column x (above the caption).
QColor TopRow(const QImage& image, int x)
{
    return image.pixelColor(1 + x, 1);
}

} // namespace

TEST(PercentBarTest, FreshBarIsEmptyAndReadsSendingZeroInChinese)
{
    CPercentBar bar;
    Prepare(bar);
    qint32 lower = -1;
    qint32 upper = -1;
    bar.GetRange(lower, upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 100);
    EXPECT_EQ(bar.GetPos(), 0);
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("发送进度：0%"));

    const ColourCount all = Count(Render(bar), 0, kClientWidth);
    EXPECT_EQ(all.bar, 0);
    EXPECT_EQ(all.textOnBar, 0) << "caption drawn in the on-bar colour over an empty bar";
    EXPECT_GT(all.text, 0) << "no caption";
    EXPECT_EQ(all.other, 0);
}

TEST(PercentBarTest, ColoursComeFromThePalette)
{
    CPercentBar bar;
    const QPalette& palette = bar.palette();
    EXPECT_EQ(bar.GetBarColour(), palette.color(QPalette::Active, QPalette::Highlight));
    EXPECT_EQ(bar.GetTextColour(), palette.color(QPalette::Active, QPalette::Highlight));
    EXPECT_EQ(bar.GetBgColour(), palette.color(QPalette::Active, QPalette::Base));
    EXPECT_EQ(bar.GetTextOnBarColour(), palette.color(QPalette::Active, QPalette::Base));
}

TEST(PercentBarTest, CaptionFollowsLanguageAndMode)
{
    CPercentBar bar;
    bar.SetRange(0, 200);
    bar.SetPos(50);
    struct Case
    {
        int language;
        int mode;
        QString caption;
    };
    const Case cases[] = {
        {0, 0, QStringLiteral("发送进度：25%")},
        {0, 1, QStringLiteral("接收进度：25%")},
        {1, 1, QStringLiteral("Receiving progress: 25%")},
        {1, 0, QStringLiteral("Sending progress: 25%")},
        // Any other language is English, any other mode is sending.
        {2, 7, QStringLiteral("Sending progress: 25%")},
        {0, -1, QStringLiteral("发送进度：25%")},
    };
    // A screen reader reads the caption and the position.
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(&bar);
    ASSERT_NE(item->valueInterface(), nullptr);
    EXPECT_EQ(item->valueInterface()->currentValue().toInt(), 50);
    EXPECT_EQ(item->valueInterface()->maximumValue().toInt(), 200);
    for (const Case& c : cases) {
        bar.SetLanguage(c.language);
        bar.SetMode(c.mode);
        EXPECT_EQ(bar.GetCaption(), c.caption) << c.language << "/" << c.mode;
        EXPECT_EQ(item->text(QAccessible::Value), c.caption) << c.language << "/" << c.mode;
    }
}

TEST(PercentBarTest, QuarterOfTheRangeFillsTheLeftQuarter)
{
    CPercentBar bar;
    Prepare(bar);
    bar.SetLanguage(1);
    bar.SetMode(1);
    bar.SetRange(0, 200);
    bar.SetPos(50);
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("Receiving progress: 25%"));

    const QImage image = Render(bar);
    EXPECT_EQ(TopRow(image, 0), kBar);
    EXPECT_EQ(TopRow(image, 49), kBar);
    EXPECT_EQ(TopRow(image, 50), kBackground);
    EXPECT_EQ(TopRow(image, kClientWidth - 1), kBackground);
    const ColourCount done = Count(image, 0, 50);
    const ColourCount rest = Count(image, 50, kClientWidth);
    EXPECT_EQ(done.background + done.text + done.other, 0);
    EXPECT_EQ(rest.bar + rest.textOnBar + rest.other, 0);
}

TEST(PercentBarTest, CaptionChangesColourWhereItCrossesTheEdge)
{
    CPercentBar bar;
    Prepare(bar);
    bar.SetLanguage(1);
    bar.SetRange(1000, 3000);
    bar.SetPos(2000); // the edge runs through the middle of the centred caption
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("Sending progress: 50%"));

    const QImage image = Render(bar);
    const ColourCount done = Count(image, 0, kClientWidth / 2);
    const ColourCount rest = Count(image, kClientWidth / 2, kClientWidth);
    EXPECT_GT(done.textOnBar, 0);
    EXPECT_EQ(done.text, 0);
    EXPECT_EQ(done.background, 0);
    EXPECT_GT(rest.text, 0);
    EXPECT_EQ(rest.textOnBar, 0);
    EXPECT_EQ(rest.bar, 0);
    EXPECT_EQ(done.other + rest.other, 0);
}

TEST(PercentBarTest, NothingIsClampedBeyondTheRange)
{
    CPercentBar bar;
    Prepare(bar);
    bar.SetPos(150);
    EXPECT_EQ(bar.GetPos(), 150);
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("发送进度：150%"));
    ColourCount all = Count(Render(bar), 0, kClientWidth);
    EXPECT_EQ(all.background + all.text, 0) << "a position past the end shows a full bar";
    EXPECT_GT(all.textOnBar, 0);

    bar.SetPos(-30);
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("发送进度：-30%"));
    all = Count(Render(bar), 0, kClientWidth);
    EXPECT_EQ(all.bar + all.textOnBar, 0);

    // Byte counts up to 2^31 - 1 against a tiny range: a huge percentage, no overflow.
    bar.SetRange(0, 1);
    bar.SetPos(std::numeric_limits<qint32>::max());
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("发送进度：214748364700%"));
    bar.SetRange(std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    bar.SetPos(0);
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("发送进度：50%"));
    EXPECT_EQ(Count(Render(bar), 0, kClientWidth).other, 0);
}

TEST(PercentBarTest, EmptyRangeDrawsNothingInTheClientArea)
{
    CPercentBar bar;
    Prepare(bar);
    EXPECT_TRUE(bar.testAttribute(Qt::WA_OpaquePaintEvent));
    for (const auto& [lower, upper] : {std::pair{10, 10}, std::pair{20, 10}}) {
        bar.SetRange(lower, upper);
        bar.SetPos(15);
        const QImage image = Render(bar);
        const ColourCount all = Count(image, 0, kClientWidth);
        EXPECT_EQ(all.other, kClientWidth * kClientHeight) << lower << ".." << upper;
        EXPECT_EQ(image.pixelColor(bar.width() / 2, bar.height() / 2), kUntouched);
    }
}

TEST(PercentBarTest, ShowTextOffDrawsOnlyTheTwoFills)
{
    CPercentBar bar;
    Prepare(bar);
    bar.SetPos(50);
    bar.SetShowText(false);
    const QImage image = Render(bar);
    const ColourCount done = Count(image, 0, kClientWidth / 2);
    const ColourCount rest = Count(image, kClientWidth / 2, kClientWidth);
    EXPECT_EQ(done.bar, kClientWidth / 2 * kClientHeight);
    EXPECT_EQ(rest.background, kClientWidth / 2 * kClientHeight);
}

TEST(PercentBarTest, WindowTextReplacesTheCaptionAndEmptyTextRestoresIt)
{
    CPercentBar bar;
    Prepare(bar);
    bar.SetPos(40);
    const QImage percent = Render(bar);

    bar.SetWindowText(QStringLiteral("Waiting for the lathe"));
    EXPECT_EQ(bar.GetWindowText(), QStringLiteral("Waiting for the lathe"));
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("Waiting for the lathe"));
    EXPECT_NE(Render(bar), percent);

    bar.SetWindowText(QString());
    EXPECT_EQ(bar.GetWindowText(), QString());
    EXPECT_EQ(bar.GetCaption(), QStringLiteral("发送进度：40%"));
    EXPECT_EQ(Render(bar), percent);
}

TEST(PercentBarTest, StepsAndOffsetsReturnThePreviousPosition)
{
    CPercentBar bar;
    EXPECT_EQ(bar.SetPos(10), 0);
    EXPECT_EQ(bar.GetStep(), 1);
    EXPECT_EQ(bar.StepIt(), 10);
    EXPECT_EQ(bar.SetStep(5), 1);
    EXPECT_EQ(bar.StepIt(), 11);
    EXPECT_EQ(bar.OffsetPos(-20), 16);
    EXPECT_EQ(bar.GetPos(), -4);
    // No wrap-around to a negative position at the top of the range.
    bar.SetPos(std::numeric_limits<qint32>::max() - 1);
    bar.OffsetPos(10);
    EXPECT_EQ(bar.GetPos(), std::numeric_limits<qint32>::max());
    bar.SetPos(std::numeric_limits<qint32>::min() + 1);
    bar.OffsetPos(-10);
    EXPECT_EQ(bar.GetPos(), std::numeric_limits<qint32>::min());
}

class ShownPercentBarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Prepare(m_bar);
        m_bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_bar));
        Settle();
    }

    // Lets every pending update arrive (updates of a window may wait for the
    // next frame), then starts counting afresh.
    void Settle()
    {
        Deliver();
        m_bar.m_paints = 0;
    }

    static void Deliver() { QTest::qWait(kFrameWaitMs); }

    static constexpr int kFrameWaitMs = 100;
    CountingBar m_bar;
};

TEST_F(ShownPercentBarTest, SetPosRepaintsAtOnceOnlyWhenTheFilledWidthChanges)
{
    m_bar.SetRange(0, 1000);
    EXPECT_EQ(m_bar.SetPos(500), 0); // 100 pixels
    EXPECT_EQ(m_bar.m_paints, 1) << "not repainted before SetPos returned";
    EXPECT_EQ(m_bar.SetPos(504), 500); // still 100 pixels
    Deliver();
    EXPECT_EQ(m_bar.m_paints, 1);
    EXPECT_EQ(m_bar.SetPos(505), 504); // 101 pixels
    EXPECT_EQ(m_bar.m_paints, 2);
    // Language and mode alone wait for the next repaint.
    m_bar.SetLanguage(1);
    m_bar.SetMode(1);
    Deliver();
    EXPECT_EQ(m_bar.m_paints, 2);
}

TEST_F(ShownPercentBarTest, ResizeMakesTheNextSetPosRepaint)
{
    m_bar.SetRange(0, 1000);
    m_bar.SetPos(300);
    Settle();
    m_bar.SetPos(300);
    EXPECT_EQ(m_bar.m_paints, 0);

    // A taller bar: the filled width stays 60 pixels, but it is no longer known.
    m_bar.resize(m_bar.width(), m_bar.height() + 6);
    Settle();
    m_bar.SetPos(300);
    EXPECT_EQ(m_bar.m_paints, 1);
    m_bar.SetPos(301);
    EXPECT_EQ(m_bar.m_paints, 1);
}

TEST_F(ShownPercentBarTest, RepaintsForTextAndShowTextOnlyWhenTheyChange)
{
    m_bar.SetWindowText(QStringLiteral("Paused"));
    QTRY_VERIFY_WITH_TIMEOUT(m_bar.m_paints > 0, 10000);
    Settle();
    m_bar.SetWindowText(QStringLiteral("Paused"));
    Deliver();
    EXPECT_EQ(m_bar.m_paints, 0);

    m_bar.SetShowText(true);
    Deliver();
    EXPECT_EQ(m_bar.m_paints, 0);
    m_bar.SetShowText(false);
    QTRY_VERIFY_WITH_TIMEOUT(m_bar.m_paints > 0, 10000);
    EXPECT_FALSE(m_bar.GetShowText());
}
