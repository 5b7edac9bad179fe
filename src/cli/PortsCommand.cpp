// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/PortsCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "journal/JournalLocation.h"
#include "serial/PortList.h"
#include "settings/SettingsStore.h"

namespace tapeway {

int PortsCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("ports"),
                     QStringLiteral("Lists the serial ports as the dialog's port box does: in "
                                    "ascending port-number order, COM1 to COM4 when none is "
                                    "found; then the network port the dialog remembers "
                                    "(rfc2217://..., tcp://...)."));
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;
    QStringList entries = FillPortList(DiscoverPorts(), QString()).entries;
    // The dialog's settings file, where it remembers a typed port name.
    const QString settingsPath = JournalLocation::ProgramSettingsPath();
    if (!settingsPath.isEmpty()) {
        const QString remembered =
            SettingsStore(settingsPath)
                .ReadSettingString(QStringLiteral("COM"), QStringLiteral("value"));
        if (IsNetworkPortName(remembered) && !entries.contains(remembered))
            entries.append(remembered);
    }
    for (const QString& entry : entries)
        Console::Out(entry);
    return kExitDone;
}

} // namespace tapeway
