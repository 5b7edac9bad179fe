#include "cli/PortsCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "serial/PortList.h"

namespace tapeway {

int PortsCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("ports"),
                     QStringLiteral("Lists the serial ports as the dialog's port box does: in "
                                    "ascending port-number order, COM1 to COM4 when none is "
                                    "found."));
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;
    for (const QString& entry : FillPortList(DiscoverPorts(), QString()).entries)
        Console::Out(entry);
    return kExitDone;
}

} // namespace tapeway
