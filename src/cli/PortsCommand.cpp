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
    QStringList commandArgs = args;
    commandArgs.removeAt(1);
    if (const auto status = line.Parse(commandArgs))
        return *status;
    if (!line.Parser().positionalArguments().isEmpty())
        return line.UsageError(QStringLiteral("no arguments expected"));
    for (const QString& entry : FillPortList(DiscoverPorts(), QString()).entries)
        Console::Out(entry);
    return kExitDone;
}

} // namespace tapeway
