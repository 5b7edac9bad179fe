// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>

namespace {

struct BaseUnits
{
    int x;
    int y;
};

// The average width comes from the 52 Latin letters, rounded as dialogs do.
BaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {std::max(1, (letters / 26 + 1) / 2), std::max(1, metrics.height())};
}

// value * base / divisor, rounded to the nearest pixel.
int Scale(int value, int base, int divisor)
{
    return static_cast<int>(std::lround(static_cast<double>(value) * base / divisor));
}

} // namespace

QRect DialogUnitsToPixels(const QRect& du, const QFont& font)
{
    const BaseUnits base = BaseUnitsOf(font);
    const int left = Scale(du.x(), base.x, 4);
    const int top = Scale(du.y(), base.y, 8);
    const int right = Scale(du.x() + du.width(), base.x, 4);
    const int bottom = Scale(du.y() + du.height(), base.y, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnitsToPixels(const QSize& du, const QFont& font)
{
    const BaseUnits base = BaseUnitsOf(font);
    return QSize(Scale(du.width(), base.x, 4), Scale(du.height(), base.y, 8));
}

QFont DialogFont(const QStringList& families, int pointSize)
{
    static const QStringList kCjkFaces = {QStringLiteral("SimSun"),
                                          QStringLiteral("NSimSun"),
                                          QStringLiteral("WenQuanYi Micro Hei"),
                                          QStringLiteral("Noto Sans CJK SC"),
                                          QStringLiteral("Source Han Sans SC"),
                                          QStringLiteral("Droid Sans Fallback")};
    const QStringList installed = QFontDatabase::families();
    QFont font = QGuiApplication::font();
    for (const QStringList* list : {&families, &kCjkFaces}) {
        for (const QString& family : *list) {
            if (installed.contains(family, Qt::CaseInsensitive)) {
                font = QFont(family);
                font.setPointSize(pointSize);
                return font;
            }
        }
    }
    font.setPointSize(pointSize);
    return font;
}
