// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CMemoryDC.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

const QColor kPaper(Qt::white);
const QColor kInk(Qt::red);

QImage Paper(int width = 100, int height = 80)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(kPaper);
    return image;
}

// Every pixel inside `inside` has colour `in`, every other one `out`.
void ExpectPicture(const QImage& image, const QRect& inside, const QColor& in, const QColor& out)
{
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != (inside.contains(x, y) ? in : out))
                ++wrong;
    EXPECT_EQ(wrong, 0) << "pixels off inside (" << inside.x() << "," << inside.y() << ","
                        << inside.width() << "x" << inside.height() << ")";
}

// A device that calls itself a printer and records the rectangles filled on
// it, to reach the direct-drawing path.
class RecordingEngine : public QPaintEngine
{
public:
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF& r, const QPixmap&, const QRectF&) override
    {
        ++m_pixmaps;
        m_rects.append(r.toRect());
    }
    void drawRects(const QRectF* rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            m_rects.append(rects[i].toRect());
    }
    void drawRects(const QRect* rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            m_rects.append(rects[i]);
    }
    Type type() const override { return QPaintEngine::User; }

    QList<QRect> m_rects;
    int m_pixmaps = 0;
};

class FakePrinter : public QPaintDevice
{
public:
    int devType() const override { return QInternal::Printer; }
    QPaintEngine* paintEngine() const override { return &m_engine; }
    mutable RecordingEngine m_engine;

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return 600;
        case PdmHeight:
            return 800;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 300;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return 1 * QPaintDevice::devicePixelRatioFScale();
        default:
            return QPaintDevice::metric(metric);
        }
    }
};

} // namespace

TEST(MemoryDCTest, CopiesThePictureToTheTargetOnlyAtTheRectangleWhenDestroyed)
{
    QImage target = Paper();
    QPainter painter(&target);
    const QRect area(20, 10, 30, 20);
    {
        CMemoryDC dc(&painter, area);
        ASSERT_TRUE(dc.IsOffScreen());
        EXPECT_EQ(dc.Rect(), area);
        EXPECT_EQ(dc.Surface(), &dc);
        // Drawn in the target's coordinates; everything outside the rectangle is dropped.
        dc.fillRect(QRect(0, 0, 100, 80), kInk);
        EXPECT_EQ(target.pixelColor(25, 15), kPaper) << "drawn on the target too early";
    }
    painter.end();
    ExpectPicture(target, area, kInk, kPaper);
}

TEST(MemoryDCTest, UndrawnPartsOfTheSurfaceLeaveTheTargetAsItWas)
{
    QImage target = Paper();
    QPainter painter(&target);
    {
        CMemoryDC dc(&painter, QRect(10, 10, 40, 40));
        dc.fillRect(QRect(30, 30, 5, 6), kInk);
    }
    painter.end();
    ExpectPicture(target, QRect(30, 30, 5, 6), kInk, kPaper);
}

TEST(MemoryDCTest, DefaultRectangleIsTheClipBoxOrTheWholeDevice)
{
    QImage target = Paper();
    QPainter painter(&target);
    {
        CMemoryDC whole(&painter);
        EXPECT_EQ(whole.Rect(), target.rect());
    }
    painter.setClipRect(QRect(5, 6, 10, 12));
    {
        CMemoryDC clipped(&painter);
        EXPECT_EQ(clipped.Rect(), QRect(5, 6, 10, 12));
        clipped.fillRect(clipped.Rect().adjusted(-3, -3, 3, 3), kInk);
    }
    painter.end();
    ExpectPicture(target, QRect(5, 6, 10, 12), kInk, kPaper);
}

TEST(MemoryDCTest, FollowsTheTargetsLogicalCoordinates)
{
    QImage target = Paper();
    QPainter painter(&target);
    painter.translate(10, 5);
    {
        // Unclipped: the whole device, seen from the moved origin.
        CMemoryDC whole(&painter);
        EXPECT_EQ(whole.Rect(), QRect(-10, -5, 100, 80));
    }
    {
        CMemoryDC dc(&painter, QRect(0, 0, 20, 20));
        dc.fillRect(QRect(2, 3, 4, 5), kInk);
    }
    painter.end();
    ExpectPicture(target, QRect(12, 8, 4, 5), kInk, kPaper);
}

TEST(MemoryDCTest, DrawsStraightOnAPrinter)
{
    FakePrinter printer;
    QPainter painter(&printer);
    ASSERT_TRUE(painter.isActive());
    {
        CMemoryDC dc(&painter, QRect(0, 0, 30, 30));
        EXPECT_FALSE(dc.IsOffScreen());
        ASSERT_EQ(dc.Surface(), &painter);
        dc.Surface()->fillRect(QRect(4, 4, 6, 6), kInk);
    }
    painter.end();
    // One fill, at its own place, and no bitmap copied afterwards.
    ASSERT_EQ(printer.m_engine.m_rects.size(), 1);
    EXPECT_EQ(printer.m_engine.m_rects.front(), QRect(4, 4, 6, 6));
    EXPECT_EQ(printer.m_engine.m_pixmaps, 0);
}
