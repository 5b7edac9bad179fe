// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CImageMenuStyle.h"

#include "ui/CImageMenu.h"

#include <QApplication>
#include <QStyleOptionMenuItem>
#include <algorithm>

CImageMenuStyle::CImageMenuStyle() : QProxyStyle()
{
    setParent(qApp);
}

CImageMenuStyle* CImageMenuStyle::Instance()
{
    static CImageMenuStyle* instance = new CImageMenuStyle();
    return instance;
}

QSize CImageMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                        const QSize& size, const QWidget* widget) const
{
    const auto* menu = qobject_cast<const CImageMenu*>(widget);
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || menu == nullptr || item == nullptr)
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    const bool ownerDrawn =
        std::any_of(menu->Items().begin(), menu->Items().end(), [](const auto& record) {
            return (record->flags & CImageMenu::kItemOwnerDraw) != 0;
        });
    if (!ownerDrawn)
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    const bool separator = item->menuItemType == QStyleOptionMenuItem::Separator;
    QSize measured = menu->MeasureItem(item->text, separator);
    // The menu skips items of no width; a separator keeps one pixel.
    measured.setWidth(std::max(1, measured.width()));
    return measured;
}
