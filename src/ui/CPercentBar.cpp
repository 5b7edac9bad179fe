// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CPercentBar.h"

#include "resources/StringTable.h"
#include "ui/CMemoryDC.h"
#include "ui/CPercentBarAccessible.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kReceiveMode = 1;
constexpr int kEnglishReceiveId = 158;
constexpr int kChineseReceiveId = 159;
constexpr int kChineseSendId = 160;
constexpr int kEnglishSendId = 161;

// Truncation toward zero that stays defined far outside the int range.
qint64 Truncate(double value, qint64 lowest, qint64 highest)
{
    if (std::isnan(value))
        return 0;
    const double t = std::trunc(value);
    if (t <= static_cast<double>(lowest))
        return lowest;
    if (t >= static_cast<double>(highest))
        return highest;
    return static_cast<qint64>(t);
}

int TruncateToInt(double value)
{
    return static_cast<int>(
        Truncate(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

qint32 Saturate(qint64 value)
{
    return static_cast<qint32>(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                                  std::numeric_limits<qint32>::max()));
}

// Fills the one "%d" of a caption format with the number and turns "%%" into "%".
QString FormatPercent(const QString& format, qint64 number)
{
    QString result;
    result.reserve(format.size() + 8);
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'%') {
                result += u'%';
                ++i;
                continue;
            }
            if (format[i + 1] == u'd') {
                result += QString::number(number);
                ++i;
                continue;
            }
        }
        result += format[i];
    }
    return result;
}

} // namespace

CPercentBar::CPercentBar(QWidget* parent) : QProgressBar(parent)
{
    const QPalette& colours = palette();
    m_barColour = colours.color(QPalette::Active, QPalette::Highlight);
    m_bgColour = colours.color(QPalette::Active, QPalette::Base);
    m_textColour = colours.color(QPalette::Active, QPalette::Highlight);
    m_textOnBarColour = colours.color(QPalette::Active, QPalette::Base);
    // The paint covers the client area; nothing is erased before it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setContentsMargins(1, 1, 1, 1);
    static const bool accessible = [] {
        QAccessible::installFactory(&CPercentBarAccessible::Create);
        return true;
    }();
    Q_UNUSED(accessible);
}

void CPercentBar::SetRange(qint32 lower, qint32 upper)
{
    m_lower = lower;
    m_upper = upper;
}

void CPercentBar::GetRange(qint32& lower, qint32& upper) const
{
    lower = m_lower;
    upper = m_upper;
}

double CPercentBar::Fraction() const
{
    if (m_lower == m_upper)
        return 0.0;
    return (static_cast<double>(m_pos) - m_lower) / (static_cast<double>(m_upper) - m_lower);
}

int CPercentBar::FilledWidth(int clientWidth) const
{
    return TruncateToInt(Fraction() * clientWidth);
}

qint32 CPercentBar::SetPos(qint32 pos)
{
    const qint32 old = m_pos;
    m_pos = pos;
    if (pos != old && QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, pos);
        QAccessible::updateAccessibility(&event);
    }
    const int width = FilledWidth(contentsRect().width());
    if (width != m_lastFilledWidth) {
        m_lastFilledWidth = width;
        repaint();
    }
    return old;
}

qint32 CPercentBar::OffsetPos(qint32 delta)
{
    return SetPos(Saturate(static_cast<qint64>(m_pos) + delta));
}

qint32 CPercentBar::StepIt()
{
    return SetPos(Saturate(static_cast<qint64>(m_pos) + m_step));
}

qint32 CPercentBar::SetStep(qint32 step)
{
    const qint32 old = m_step;
    m_step = step;
    return old;
}

void CPercentBar::SetShowText(bool show)
{
    if (show != m_showText)
        update();
    m_showText = show;
}

void CPercentBar::SetLanguage(int language)
{
    m_language = language;
}

void CPercentBar::SetMode(int mode)
{
    m_mode = mode;
}

void CPercentBar::SetWindowText(const QString& text)
{
    if (text == m_captionText)
        return;
    m_captionText = text;
    update();
}

QString CPercentBar::GetCaption() const
{
    if (!m_captionText.isEmpty())
        return m_captionText;
    int id = 0;
    if (m_language != tapeway::kChinese)
        id = m_mode == kReceiveMode ? kEnglishReceiveId : kEnglishSendId;
    else
        id = m_mode == kReceiveMode ? kChineseReceiveId : kChineseSendId;
    const qint64 percent = Truncate(Fraction() * 100.0, std::numeric_limits<qint64>::min(),
                                    std::numeric_limits<qint64>::max());
    return FormatPercent(tapeway::LoadString(id), percent);
}

void CPercentBar::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    // The thin frame round the control lies outside the client area.
    painter.setPen(palette().color(QPalette::Active, QPalette::Dark));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    // An empty range draws nothing: whatever was there stays.
    if (m_lower >= m_upper)
        return;
    const QRect client = contentsRect();
    const QRegion area = event->region() & client;
    if (client.isEmpty() || area.isEmpty())
        return;
    painter.setClipRegion(area);

    CMemoryDC surface(&painter);
    QPainter* dc = surface.Surface();
    const double fraction = Fraction();
    // Beyond the client area the fills would be clipped away anyway.
    const int doneWidth = std::clamp(TruncateToInt(client.width() * fraction), 0, client.width());
    const QRect done(client.left(), client.top(), doneWidth, client.height());
    const QRect rest(done.right() + 1, client.top(), client.width() - doneWidth, client.height());
    dc->fillRect(done, m_barColour);
    dc->fillRect(rest, m_bgColour);

    if (!m_showText)
        return;
    const QString caption = GetCaption();
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    dc->setFont(font());
    dc->setBrush(Qt::NoBrush);
    dc->setClipRect(done);
    dc->setPen(m_textOnBarColour);
    dc->drawText(client, flags, caption);
    dc->setClipRect(rest);
    dc->setPen(m_textColour);
    dc->drawText(client, flags, caption);
}

void CPercentBar::resizeEvent(QResizeEvent* event)
{
    QProgressBar::resizeEvent(event);
    // The next SetPos repaints whatever width it computes.
    m_lastFilledWidth = -1;
}
