// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResourcePaths.h"

#include "ui/UiResources.h"

#include <QtGlobal>
#include <array>

namespace {

struct ResourceEntry
{
    int id;
    const char* path;
};

constexpr std::array<ResourceEntry, 3> kResources{{
    {kIconProgram, ":/icons/tapeway.svg"},
    {kIconBrowse, ":/icons/browse.svg"},
    {kMenuBrowseDrop, ":/menus/browse.menu"},
}};

} // namespace

QString ResourcePath(int id)
{
    EnsureUiResources();
    for (const ResourceEntry& entry : kResources) {
        if (entry.id == id)
            return QString::fromLatin1(entry.path);
    }
    return {};
}
