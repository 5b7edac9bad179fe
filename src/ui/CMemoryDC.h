// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPainter>
#include <QPixmap>
#include <QRect>

// An off-screen drawing surface over a painter's target. Callers draw on it in
// the target's coordinates; when it is destroyed the picture is copied to the
// target at the rectangle. When the target is a printer it draws straight on it.
//
// The surface starts transparent, so whatever a caller leaves undrawn shows the
// target as it was. The target painter must stay active (and must not be drawn
// on) until this object is gone. The surface takes over the target's font, pen,
// brush and layout direction.
class CMemoryDC : public QPainter
{
public:
    // The rectangle is the target's clip box (the whole device when unclipped).
    explicit CMemoryDC(QPainter* target);
    CMemoryDC(QPainter* target, const QRect& rect);
    ~CMemoryDC();

    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    QRect Rect() const { return m_rect; }
    bool IsOffScreen() const { return m_offScreen; }
    // The painter to draw on: this surface, or the target itself for a printer.
    QPainter* Surface();

private:
    void Begin();

    QPainter* m_target;
    QRect m_rect;
    bool m_offScreen;
    QPixmap m_bitmap;
};
