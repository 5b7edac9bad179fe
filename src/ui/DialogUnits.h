// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringList>

// Dialog layouts are given in dialog units of the dialog's font: a horizontal
// unit is a quarter of the font's average character width, a vertical unit an
// eighth of its character height. A rectangle's edges are converted one by one,
// so controls that touch in dialog units touch in pixels as well.
QRect DialogUnitsToPixels(const QRect& du, const QFont& font);
QSize DialogUnitsToPixels(const QSize& du, const QFont& font);

// The font of a dialog template: the first of the families that is installed,
// else a CJK face that is ("宋体" is rarely found outside Windows), else the
// application font; always at the given point size.
QFont DialogFont(const QStringList& families, int pointSize);
