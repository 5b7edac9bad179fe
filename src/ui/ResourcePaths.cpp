#include "ui/ResourcePaths.h"

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

// The resources are compiled into the widget library, a static library, so they
// are registered by hand before the first look-up.
static void RegisterResources()
{
    Q_INIT_RESOURCE(tapeway);
}

QString ResourcePath(int id)
{
    static const bool registered = [] {
        RegisterResources();
        return true;
    }();
    Q_UNUSED(registered);
    for (const ResourceEntry& entry : kResources) {
        if (entry.id == id)
            return QString::fromLatin1(entry.path);
    }
    return {};
}
