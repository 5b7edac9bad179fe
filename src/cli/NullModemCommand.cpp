// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/NullModemCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/SignalNotifier.h"
#include "serial/VirtualNullModem.h"

#include <QCoreApplication>
#include <optional>

namespace tapeway {

int NullModemCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("null-modem"),
                     QStringLiteral("Creates two pseudo-terminals joined like a null-modem cable, "
                                    "prints their paths (one a line) and forwards bytes until "
                                    "interrupted (exit status 0)."));
    const QCommandLineOption pace(
        QStringLiteral("pace"),
        QStringLiteral("Let every byte take its wire time at the speed of the end that sends it "
                       "(10 bits a byte unless --frame says otherwise), through a 16-byte "
                       "transmit FIFO; an end whose program set IXON is stopped by the DC3 it "
                       "receives."));
    const QCommandLineOption frame(
        QStringLiteral("frame"),
        QStringLiteral("With --pace: the character frame both ends use, data bits, parity N/E/O "
                       "and stop bits, e.g. 7E2 (11 bits a byte); default 8N1. A pseudo-terminal "
                       "cannot carry it, so it is given here."),
        QStringLiteral("FRAME"));
    line.Parser().addOption(pace);
    line.Parser().addOption(frame);
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;

    VirtualNullModem modem;
    modem.SetPaced(line.Parser().isSet(pace));
    if (line.Parser().isSet(frame)) {
        const std::optional<UartModel::Frame> chosen =
            UartModel::Frame::Parse(line.Parser().value(frame));
        if (!chosen)
            return line.UsageError(
                QStringLiteral("--frame takes data bits, parity and stop bits, such as 7E2"));
        if (!modem.IsPaced())
            return line.UsageError(QStringLiteral("--frame needs --pace"));
        modem.SetFrame(VirtualNullModem::AToB, *chosen);
        modem.SetFrame(VirtualNullModem::BToA, *chosen);
    }
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
