// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SystemColours.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

QColor SystemColour(SysColour which, const QPalette& palette)
{
    switch (which) {
    case SysColour::BtnFace:
        return palette.color(QPalette::Active, QPalette::Button);
    case SysColour::BtnText:
        return palette.color(QPalette::Active, QPalette::ButtonText);
    case SysColour::BtnHighlight:
        return palette.color(QPalette::Active, QPalette::Light);
    case SysColour::BtnShadow:
        return palette.color(QPalette::Active, QPalette::Dark);
    case SysColour::Light3d:
        return palette.color(QPalette::Active, QPalette::Midlight);
    case SysColour::DkShadow3d:
        return palette.color(QPalette::Active, QPalette::Shadow);
    case SysColour::Window:
        return palette.color(QPalette::Active, QPalette::Base);
    case SysColour::Menu:
        return palette.color(QPalette::Active, QPalette::Window);
    case SysColour::MenuText:
        return palette.color(QPalette::Active, QPalette::WindowText);
    case SysColour::GrayText:
        return palette.color(QPalette::Disabled, QPalette::Text);
    case SysColour::Highlight:
        return palette.color(QPalette::Active, QPalette::Highlight);
    case SysColour::HighlightText:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    }
    return {};
}

QColor SystemColour(SysColour which)
{
    return SystemColour(which, QApplication::palette());
}

QColor LightenColour(const QColor& colour, double factor)
{
    if (factor <= 0.0 || factor > 1.0)
        return colour;
    auto up = [factor](int c) { return static_cast<int>(c + factor * (255 - c)); };
    return QColor(up(colour.red()), up(colour.green()), up(colour.blue()));
}

QColor DarkenColour(const QColor& colour, double factor)
{
    if (factor <= 0.0 || factor > 1.0)
        return colour;
    auto down = [factor](int c) { return static_cast<int>(c - factor * c); };
    return QColor(down(colour.red()), down(colour.green()), down(colour.blue()));
}

void Draw3dRect(QPainter* painter, const QRect& rect, const QColor& topLeft,
                const QColor& bottomRight)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const int l = rect.left();
    const int t = rect.top();
    const int w = rect.width();
    const int h = rect.height();
    painter->fillRect(l, t, w - 1, 1, topLeft);
    painter->fillRect(l, t, 1, h - 1, topLeft);
    painter->fillRect(l + w - 1, t, 1, h, bottomRight);
    painter->fillRect(l, t + h - 1, w, 1, bottomRight);
}

QFont SystemMenuFont()
{
    return QApplication::font("QMenu");
}

int SystemMenuHeight()
{
    // A menu bar line: the font's height and three pixels above and below.
    return QFontMetrics(SystemMenuFont()).height() + 6;
}
