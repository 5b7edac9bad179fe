// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// The program's icons live in the resources compiled into the widget library.
// A static library's resources must be registered by hand; every function here
// does that first, and the dialog may call EnsureUiResources() itself.
void EnsureUiResources();

// Icon 128: the program icon (window, About box).
QIcon ProgramIcon();
// Icon 144: the browse button's open folder.
QIcon BrowseIcon();
