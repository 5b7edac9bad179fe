// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CMemoryDC.h"

#include <QPaintDevice>
#include <QTransform>

namespace {

// The area of the target that a surface covers when none is given: the clip
// box of the painter, or the whole device in the painter's logical coordinates.
QRect ClipBox(QPainter* target)
{
    if (target == nullptr || !target->isActive())
        return {};
    if (target->hasClipping())
        return target->clipBoundingRect().toAlignedRect();
    const QPaintDevice* device = target->device();
    const QRect deviceRect(0, 0, device->width(), device->height());
    bool invertible = false;
    const QTransform toLogical = target->deviceTransform().inverted(&invertible);
    return invertible ? toLogical.mapRect(deviceRect) : deviceRect;
}

} // namespace

CMemoryDC::CMemoryDC(QPainter* target) : CMemoryDC(target, ClipBox(target)) {}

CMemoryDC::CMemoryDC(QPainter* target, const QRect& rect)
    : m_target(target), m_rect(rect.normalized()), m_offScreen(false)
{
    Begin();
}

void CMemoryDC::Begin()
{
    if (m_target == nullptr || !m_target->isActive())
        return;
    QPaintDevice* device = m_target->device();
    m_offScreen = device->devType() != QInternal::Printer;
    if (!m_offScreen || m_rect.isEmpty())
        return;

    // One bitmap pixel per device pixel, so the copy is not rescaled.
    const qreal ratio = device->devicePixelRatio();
    m_bitmap = QPixmap(m_rect.size() * ratio);
    m_bitmap.setDevicePixelRatio(ratio);
    m_bitmap.fill(Qt::transparent);
    if (!begin(&m_bitmap))
        return;
    setFont(m_target->font());
    setPen(m_target->pen());
    setBrush(m_target->brush());
    setLayoutDirection(m_target->layoutDirection());
    // Callers draw in the target's coordinates.
    translate(-m_rect.topLeft());
}

CMemoryDC::~CMemoryDC()
{
    if (!m_offScreen || !isActive())
        return;
    end();
    if (!m_target->isActive())
        return;
    m_target->save();
    m_target->setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_target->setOpacity(1.0);
    m_target->drawPixmap(m_rect.topLeft(), m_bitmap);
    m_target->restore();
}

QPainter* CMemoryDC::Surface()
{
    return m_offScreen ? static_cast<QPainter*>(this) : m_target;
}
