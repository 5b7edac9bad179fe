// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Resource ids of icons, menus and toolbars used by the widgets.
constexpr int kIconProgram = 128;
constexpr int kIconBrowse = 144;
constexpr int kMenuBrowseDrop = 150;

// The Qt resource path that holds a resource id, or an empty text for an id the
// program does not carry.
QString ResourcePath(int id);
