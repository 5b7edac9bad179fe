// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>

class QPainter;

// The owner-drawn widgets speak of the classic system colours. They are taken
// from the application palette, in this one place:
//
//   BtnFace       -> QPalette::Button            (button faces, image columns)
//   BtnText       -> QPalette::ButtonText
//   BtnHighlight  -> QPalette::Light             (lit edge of a 3-D frame)
//   BtnShadow     -> QPalette::Dark              (shaded edge of a 3-D frame)
//   Light3d       -> QPalette::Midlight          (inner lit edge of a raised border)
//   DkShadow3d    -> QPalette::Shadow            (outer shaded edge of a raised border)
//   Window        -> QPalette::Base              (item background of the themed menu)
//   Menu          -> QPalette::Window            (item background of the classic menu)
//   MenuText      -> QPalette::WindowText
//   GrayText      -> QPalette::Text of the Disabled group
//   Highlight     -> QPalette::Highlight
//   HighlightText -> QPalette::HighlightedText
enum class SysColour
{
    BtnFace,
    BtnText,
    BtnHighlight,
    BtnShadow,
    Light3d,
    DkShadow3d,
    Window,
    Menu,
    MenuText,
    GrayText,
    Highlight,
    HighlightText,
};

QColor SystemColour(SysColour which, const QPalette& palette);
// The same from the application palette.
QColor SystemColour(SysColour which);

// Moves each of red, green and blue toward 255 by the factor (c + f * (255 - c)),
// or toward 0 (c - f * c), truncated. A factor outside (0, 1] changes nothing.
QColor LightenColour(const QColor& colour, double factor);
QColor DarkenColour(const QColor& colour, double factor);

// A one-pixel frame inside the rectangle: top and left in the first colour,
// bottom and right in the second (raised: light then dark; sunken: the reverse).
void Draw3dRect(QPainter* painter, const QRect& rect, const QColor& topLeft,
                const QColor& bottomRight);

// The font menus are drawn in, and the height of a one-line menu bar in it.
QFont SystemMenuFont();
int SystemMenuHeight();
