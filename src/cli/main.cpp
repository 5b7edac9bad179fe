// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ApprovalCommand.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ControllerCommand.h"
#include "cli/DemoCommand.h"
#include "cli/ExitCode.h"
#include "cli/JournalCommand.h"
#include "cli/NullModemCommand.h"
#include "cli/PortsCommand.h"
#include "cli/ProfilesCommand.h"
#include "cli/ServeCommand.h"
#include "cli/TransferCommand.h"
#include "cli/UserCommand.h"
#include "cli/VerifyCommand.h"
#include "transfer/SystemPath.h"

#include <QCoreApplication>

using namespace tapeway;

namespace {

const char* const kUsage =
    "Usage: tapeway-cli [--lang en|zh] [--journal URL] COMMAND [options]\n"
    "\n"
    "Moves CNC part programs over an RS-232 line, without the dialog.\n"
    "\n"
    "Commands:\n"
    "  send --port PORT [--baud 9600|19200|38400] FILE...\n"
    "                   send the files, each when the controller asks for it\n"
    "  receive --port PORT [--overwrite] [--continuous [--count N]]\n"
    "          [--header-timeout SECONDS] TARGET\n"
    "                   receive a file (or a numbered series) from the controller\n"
    "  send|receive --protocol tape [--profile NAME] [--baud B] [--frame 7E2] ...\n"
    "                   the same as plain text, as a tape reader and punch would\n"
    "  ports            list the serial ports in the dialog's order\n"
    "  profiles [--profiles-file FILE]\n"
    "                   the tape profiles: the presets and the operator's own\n"
    "  controller --port PORT send|receive ...\n"
    "                   play a CNC controller (for tests and training)\n"
    "  controller --protocol tape --port PORT read DIR | punch FILE...\n"
    "                   play a CNC controller of the tape protocol\n"
    "  null-modem [--pace]\n"
    "                   two linked pseudo-terminals, forwarded until interrupted\n"
    "  demo             the main job over a virtual line, no hardware needed\n"
    "  serve [--config FILE]\n"
    "                   serve every machine of FILE (default /etc/tapeway/lines.ini)\n"
    "  status [--config FILE] [--format table|json]\n"
    "                   the state of every line of a running serve\n"
    "  journal [--since DATE] [--until DATE] [--path TEXT] [--direction send|receive]\n"
    "          [--outcome CODE] [--limit N] [--format table|csv|json] | --sync\n"
    "                   the transfer records, newest first; --sync copies records kept\n"
    "                   locally while the journal failed\n"
    "  verify FILE...   whether each file's exact content was ever sent or received\n"
    "  approve [--replace] LINE NAME | reject LINE NAME | diff LINE NAME [--config FILE]\n"
    "                   check a program a line with Approve=yes holds in pending/: into\n"
    "                   the line's library, to rejected/, or shown against the library\n"
    "  user add|remove|list --users PATH [NAME] [--role viewer|operator|admin]\n"
    "                   the users of the office view (serve's [HTTP] Users= file)\n"
    "\n"
    "Every send and receive leaves one record per file in the journal: --journal URL\n"
    "(sqlite:PATH, postgresql://user@host[:port]/db or off), else\n"
    "TAPEWAY_JOURNAL, else [JOURNAL] Location in RS232.ini, else journal.sqlite in\n"
    "the program's data folder. A PostgreSQL password belongs in ~/.pgpass or\n"
    "PGPASSWORD, not on the command line.\n"
    "\n"
    "'tapeway-cli COMMAND --help' describes a command.\n"
    "Exit status: 0 done, 1 a transfer failed or a file was skipped, 2 usage error,\n"
    "3 the port cannot be opened, 4 a local file problem, 130 cancelled.\n"
    "Results go to stdout, one line per file: <outcome> TAB <path>.";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tapeway-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));

    // Options before the command (--lang) move behind it, where every
    // command's own parser takes them.
    // The arguments as the bytes they are: a file name that is not valid
    // UTF-8 still names its own file (QCoreApplication::arguments() would
    // replace its bytes).
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << DecodePath(QByteArray(argv[i]));
    QStringList leading;
    while (args.size() > 1 && args[1].startsWith(u'-')) {
        const QString option = args.takeAt(1);
        if (option == QStringLiteral("-h") || option == QStringLiteral("--help")) {
            Console::Out(QString::fromUtf8(kUsage));
            return kExitDone;
        }
        if (option == QStringLiteral("--version")) {
            Console::Out(QStringLiteral("tapeway-cli ") + QCoreApplication::applicationVersion());
            return kExitDone;
        }
        leading << option;
        if ((option == QStringLiteral("--lang") || option == QStringLiteral("--journal")) &&
            args.size() > 1)
            leading << args.takeAt(1);
    }
    if (args.size() < 2) {
        Console::Err(QString::fromUtf8(kUsage));
        return kExitUsage;
    }
    for (int i = 0; i < leading.size(); ++i)
        args.insert(2 + i, leading[i]);

    const QString command = args[1];
    if (command == QStringLiteral("send") || command == QStringLiteral("receive"))
        return TransferCommand::Run(args);
    if (command == QStringLiteral("ports"))
        return PortsCommand::Run(args);
    if (command == QStringLiteral("profiles"))
        return ProfilesCommand::Run(args);
    if (command == QStringLiteral("controller"))
        return ControllerCommand::Run(args);
    if (command == QStringLiteral("null-modem"))
        return NullModemCommand::Run(args);
    if (command == QStringLiteral("demo"))
        return DemoCommand::Run(args);
    if (command == QStringLiteral("serve"))
        return ServeCommand::RunServe(args);
    if (command == QStringLiteral("status"))
        return ServeCommand::RunStatus(args);
    if (command == QStringLiteral("journal"))
        return JournalCommand::Run(args);
    if (command == QStringLiteral("verify"))
        return VerifyCommand::Run(args);
    if (command == QStringLiteral("approve"))
        return ApprovalCommand::RunApprove(args);
    if (command == QStringLiteral("reject"))
        return ApprovalCommand::RunReject(args);
    if (command == QStringLiteral("diff"))
        return ApprovalCommand::RunDiff(args);
    if (command == QStringLiteral("user"))
        return UserCommand::Run(args);
    Console::Err(QStringLiteral("tapeway-cli: unknown command \"%1\"\n").arg(command) +
                 QString::fromUtf8(kUsage));
    return kExitUsage;
}
