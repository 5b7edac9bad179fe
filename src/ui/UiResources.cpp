#include "ui/UiResources.h"

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
    return QIcon(QStringLiteral(":/icons/tapeway.svg"));
}

QIcon BrowseIcon()
{
    EnsureUiResources();
    return QIcon(QStringLiteral(":/icons/browse.svg"));
}
