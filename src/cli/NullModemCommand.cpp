#include "cli/NullModemCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/SignalNotifier.h"
#include "serial/VirtualNullModem.h"

#include <QCoreApplication>

namespace tapeway {

int NullModemCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("null-modem"),
                     QStringLiteral("Creates two pseudo-terminals joined like a null-modem cable, "
                                    "prints their paths (one a line) and forwards bytes until "
                                    "interrupted (exit status 0)."));
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("Let every byte take its wire time at the speed "
                                                 "of the end that sends it (10 bits a byte)."));
    line.Parser().addOption(pace);
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;

    VirtualNullModem modem;
    modem.SetPaced(line.Parser().isSet(pace));
    if (!modem.Start()) {
        Console::Err(QStringLiteral("null-modem: %1").arg(modem.LastError()));
        return kExitPort;
    }
    SignalNotifier interrupts;
    QObject::connect(&interrupts, &SignalNotifier::Interrupted, qApp,
                     [] { QCoreApplication::exit(kExitDone); });
    Console::Out(modem.PortA());
    Console::Out(modem.PortB());
    const int status = QCoreApplication::exec();
    modem.Stop();
    return status;
}

} // namespace tapeway
