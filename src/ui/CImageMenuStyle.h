// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProxyStyle>

// Sizes the owner-drawn items of a CImageMenu by its own measuring, so that the
// menu's layout leaves each item the room its drawing expects. Everything else
// is the application style's.
class CImageMenuStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // One instance serves every menu; it lives as long as the application.
    static CImageMenuStyle* Instance();

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;

private:
    CImageMenuStyle();
};
