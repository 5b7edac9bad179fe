// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ControllerCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/SignalNotifier.h"
#include "cli/TapeControllerCommand.h"
#include "resources/StringTable.h"
#include "transfer/SimulatedController.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace tapeway {

namespace {

// The value of --protocol, as far as it can be told before parsing: the tape
// controller has a command line of its own.
QString ProtocolOf(const QStringList& args)
{
    const QString prefix = QStringLiteral("--protocol=");
    for (qsizetype i = 2; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--"))
            break;
        if (args[i] == QStringLiteral("--protocol") && i + 1 < args.size())
            return args[i + 1];
        if (args[i].startsWith(prefix))
            return args[i].mid(prefix.size());
    }
    return QStringLiteral("packet");
}

} // namespace

int ControllerCommand::Run(const QStringList& args)
{
    if (ProtocolOf(args) == QStringLiteral("tape"))
        return TapeControllerCommand::Run(args);
    CommandLine line(
        QStringLiteral("controller"),
        QStringLiteral("Plays a CNC controller on PORT.\n"
                       "  controller --port PORT send [--baud B] FILE...  sends the files when "
                       "asked\n"
                       "  controller --port PORT receive DIR [--count N]  asks for N files and "
                       "stores them in DIR as O0001.nc, O0002.nc, ...\n"
                       "Fault offsets count every byte the controller sends, from 0.\n"
                       "'controller --protocol tape --help' describes the controller of the tape "
                       "protocol."));
    QCommandLineParser& parser = line.Parser();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial port."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption protocol(
        QStringLiteral("protocol"),
        QStringLiteral("packet (default), the protocol of this controller, or tape."),
        QStringLiteral("packet|tape"), QStringLiteral("packet"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("send: the speed announced for the data (default "
                                                 "9600)."),
                                  QStringLiteral("B"), QStringLiteral("9600"));
    const QCommandLineOption count(
        QStringLiteral("count"), QStringLiteral("receive: how many files to ask for (default 1)."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption dropByte(QStringLiteral("drop-byte"),
                                      QStringLiteral("Fault: never send the byte at offset N."),
                                      QStringLiteral("N"));
    const QCommandLineOption flipByte(QStringLiteral("flip-byte"),
                                      QStringLiteral("Fault: send the byte at offset N inverted."),
                                      QStringLiteral("N"));
    const QCommandLineOption silentAfter(QStringLiteral("silent-after"),
                                         QStringLiteral("Fault: send nothing from offset N on."),
                                         QStringLiteral("N"));
    const QCommandLineOption wrongHeader(QStringLiteral("wrong-header-check"),
                                         QStringLiteral("Fault: announce every header with a wrong "
                                                        "check."));
    const QCommandLineOption ignoreDC4(
        QStringLiteral("ignore-dc4"), QStringLiteral("Fault (send): stay at 9600 baud after DC4."));
    const QCommandLineOption finalDelay(
        QStringLiteral("final-dc2-delay"),
        QStringLiteral("receive: send the DC2 after the last packet MS milliseconds late."),
        QStringLiteral("MS"));
    for (const QCommandLineOption* option : {&port, &protocol, &baud, &count, &dropByte, &flipByte,
                                             &silentAfter, &wrongHeader, &ignoreDC4, &finalDelay})
        parser.addOption(*option);
    parser.addPositionalArgument(QStringLiteral("ACTION"), QStringLiteral("send or receive."));
    parser.addPositionalArgument(QStringLiteral("ARGS"), QStringLiteral("FILE... or DIR."),
                                 QStringLiteral("FILE...|DIR"));
    if (const auto status = line.ParseCommand(args))
        return *status;

    if (parser.value(protocol) != QStringLiteral("packet"))
        return line.UsageError(QStringLiteral("--protocol takes packet or tape"));
    const QString portName = parser.value(port).trimmed();
    if (portName.isEmpty())
        return line.UsageError(QStringLiteral("--port is required"));
    QStringList positional = parser.positionalArguments();
    const QString action = positional.value(0);
    positional.removeFirst();
    if (action != QStringLiteral("send") && action != QStringLiteral("receive"))
        return line.UsageError(QStringLiteral("the action is send or receive"));

    ControllerFaults faults;
    const std::pair<const QCommandLineOption*, qint64*> offsets[] = {
        {&dropByte, &faults.dropByteAt},
        {&flipByte, &faults.flipByteAt},
        {&silentAfter, &faults.silentAfter}};
    for (const auto& [option, target] : offsets) {
        if (parser.isSet(*option) && !CommandLine::ToInt(parser.value(*option), 0, target))
            return line.UsageError(
                QStringLiteral("--%1 takes a byte offset from 0").arg(option->names().first()));
    }
    if (parser.isSet(finalDelay)) {
        qint64 delay = 0;
        if (!CommandLine::ToInt(parser.value(finalDelay), 0, &delay) || delay > 600000)
            return line.UsageError(QStringLiteral("--final-dc2-delay takes milliseconds"));
        faults.finalDC2DelayMs = int(delay);
    }
    faults.wrongHeaderCheck = parser.isSet(wrongHeader);
    faults.ignoreDC4 = parser.isSet(ignoreDC4);

    SimulatedController controller(portName);
    controller.SetFaults(faults);
    const int language = line.Language();
    const bool sending = action == QStringLiteral("send");
    QStringList files;
    qint64 number = 0;
    if (sending) {
        if (positional.isEmpty())
            return line.UsageError(QStringLiteral("send needs at least one FILE"));
        if (!CommandLine::ToInt(parser.value(baud), 100, &number) || number / 100 > 0xffff)
            return line.UsageError(QStringLiteral("--baud takes a speed such as 9600"));
        files = positional;
        for (const QString& file : files) {
            const QFileInfo info(file);
            if (!info.isFile() || !info.isReadable() || info.size() == 0) {
                Console::Err(QStringLiteral("%1: %2").arg(
                    file,
                    LocalText(language, info.exists() ? 142 : 146, info.exists() ? 143 : 147)));
                return kExitLocalFile;
            }
        }
    } else {
        if (positional.size() != 1)
            return line.UsageError(QStringLiteral("receive needs one DIR"));
        if (!CommandLine::ToInt(parser.value(count), 1, &number) || number > 1000000)
            return line.UsageError(QStringLiteral("--count takes a number of files from 1"));
    }

    int status = kExitDone;
    QString failure;
    QObject::connect(&controller, &SimulatedController::FileSent, &controller, [&](int index) {
        Console::Out(LocalText(language, 170, 171) + u'\t' + files.value(index));
    });
    QObject::connect(&controller, &SimulatedController::FileReceived, &controller,
                     [&](const QString& path, const QByteArray&) {
                         Console::Out(LocalText(language, 134, 135) + u'\t' + path);
                     });
    QObject::connect(&controller, &SimulatedController::Failed, &controller,
                     [&](const QString& reason) {
                         failure = reason;
                         Console::Err(QStringLiteral("controller: %1").arg(reason));
                         QCoreApplication::exit(kExitFailed);
                     });
    QObject::connect(&controller, &SimulatedController::Finished, qApp,
                     [] { QCoreApplication::exit(kExitDone); });
    SignalNotifier interrupts;
    QObject::connect(&interrupts, &SignalNotifier::Interrupted, &controller, [&](int) {
        controller.Stop();
        QCoreApplication::exit(kExitCancelled);
    });

    const bool started = sending ? controller.SendFiles(files, int(number))
                                 : controller.ReceiveFiles(positional.first(), int(number));
    if (!started) {
        // The files were checked above: what fails here is the port or the folder.
        return failure.startsWith(QStringLiteral("cannot open")) ? kExitPort : kExitLocalFile;
    }
    Console::Err(
        sending
            ? QStringLiteral("controller: waiting on %1 for requests").arg(portName)
            : QStringLiteral("controller: asking on %1 for %2 file(s)").arg(portName).arg(number));
    status = QCoreApplication::exec();
    return status;
}

} // namespace tapeway
