// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UiResources.h"

#include "ui/ResourcePaths.h"

static void RegisterTapewayResources()
{
    Q_INIT_RESOURCE(tapeway);
}

void EnsureUiResources()
{
    static const bool registered = [] {
        RegisterTapewayResources();
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon ProgramIcon()
{
    EnsureUiResources();
    return QIcon(ResourcePath(kIconProgram));
}

QIcon BrowseIcon()
{
    EnsureUiResources();
    return QIcon(ResourcePath(kIconBrowse));
}
