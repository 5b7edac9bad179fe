// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/TransferCommand.h"

#include "cli/CliHost.h"
#include "cli/CliText.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/ProgressReporter.h"
#include "cli/RestartOptions.h"
#include "cli/SignalNotifier.h"
#include "cli/TapeOptions.h"
#include "journal/JournalThread.h"
#include "resources/StringTable.h"
#include "serial/SerialPort.h"
#include "transfer/TransferSession.h"

#include <QCoreApplication>
#include <QTimer>

namespace tapeway {

int TransferCommand::Run(const QStringList& args)
{
    const bool receive = args.value(1) == QStringLiteral("receive");
    CommandLine line(receive ? QStringLiteral("receive") : QStringLiteral("send"),
                     receive ? QStringLiteral("Receives a file (or a numbered series) from the "
                                              "controller, asking for it every second. An existing "
                                              "TARGET is replaced only by complete new data. With "
                                              "--protocol tape the controller punches the program "
                                              "as plain text when its operator starts it.")
                             : QStringLiteral("Sends every FILE in turn, each when the controller "
                                              "asks for it. With --protocol tape each goes out as "
                                              "plain text, at once or on the controller's XON; "
                                              "--start-at restarts it at a block."));
    QCommandLineParser& parser = line.Parser();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Serial port: a device path such as /dev/ttyUSB0, "
                                                 "a name such as ttyS0, COM1..COM4, or a port on a "
                                                 "device server: rfc2217://HOST:PORT, or "
                                                 "tcp://HOST:PORT?baud=N for a fixed speed."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption baud(
        QStringLiteral("baud"),
        receive ? QStringLiteral("Tape: the line's speed in place of the profile's. (A packet "
                                 "receive takes the speed the controller announces.)")
                : QStringLiteral("Speed of the data phase: 9600 (default), 19200 or 38400. Tape: "
                                 "the line's speed in place of the profile's, 110 to 115200."),
        QStringLiteral("B"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"),
                                       QStringLiteral("Replace an existing TARGET (once the new "
                                                      "data arrived intact)."));
    const QCommandLineOption continuous(QStringLiteral("continuous"),
                                        QStringLiteral("Go on with a numbered series: part.nc, "
                                                       "part001.nc, part002.nc, ..."));
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("With --continuous: stop after N files."),
                                   QStringLiteral("N"));
    const QCommandLineOption headerTimeout(
        QStringLiteral("header-timeout"),
        QStringLiteral("Give up when no header arrives within SECONDS (default: wait until "
                       "cancelled). In a series this ends the series. Tape: when nothing "
                       "arrives within SECONDS."),
        QStringLiteral("SECONDS"));
    parser.addOption(port);
    parser.addOption(baud);
    TapeOptions::AddTo(parser);
    if (receive) {
        parser.addOption(overwrite);
        parser.addOption(continuous);
        parser.addOption(count);
        parser.addOption(headerTimeout);
        parser.addPositionalArgument(QStringLiteral("TARGET"),
                                     QStringLiteral("Where to save the file."));
    } else {
        RestartOptions::AddTo(parser);
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Files to send."),
                                     QStringLiteral("FILE..."));
    }
    if (const auto status = line.ParseCommand(args))
        return *status;

    CliHost::Options options;
    options.receive = receive;
    options.language = line.Language();
    options.link.portName = parser.value(port).trimmed();
    if (options.link.portName.isEmpty())
        return line.UsageError(QStringLiteral("--port is required"));
    const std::optional<QString> baudGiven =
        parser.isSet(baud) ? std::optional<QString>(parser.value(baud)) : std::nullopt;
    const TapeOptions::Choice protocol = TapeOptions::Choose(parser, baudGiven, line.Language());
    if (!protocol.ok)
        return line.UsageError(protocol.reason);
    options.tape = protocol.tape;
    if (!options.tape && receive && baudGiven) {
        return line.UsageError(CliText(line.Language(), CliMessage::ReceiveBaud));
    }
    const QStringList positional = parser.positionalArguments();
    if (receive) {
        if (positional.size() != 1 || positional.first().trimmed().isEmpty())
            return line.UsageError(QStringLiteral("exactly one TARGET is required"));
        options.target = positional.first();
        options.overwrite = parser.isSet(overwrite);
        options.continuous = parser.isSet(continuous);
        if (parser.isSet(count)) {
            qint64 n = 0;
            if (!CommandLine::ToInt(parser.value(count), 1, &n) || n > 1000000)
                return line.UsageError(QStringLiteral("--count takes a number of files from 1"));
            if (!options.continuous)
                return line.UsageError(QStringLiteral("--count belongs to --continuous"));
            options.count = int(n);
        }
        if (parser.isSet(headerTimeout)) {
            bool ok = false;
            const double seconds = parser.value(headerTimeout).toDouble(&ok);
            if (!ok || seconds <= 0 || seconds > 86400)
                return line.UsageError(QStringLiteral("--header-timeout takes seconds above 0"));
            options.headerTimeoutMs = qMax(1, int(seconds * 1000));
        }
    } else {
        if (positional.isEmpty())
            return line.UsageError(QStringLiteral("at least one FILE is required"));
        if (!options.tape) {
            qint64 speed = 0;
            if (!CommandLine::ToInt(baudGiven.value_or(QStringLiteral("9600")), 1, &speed) ||
                !CommandLine::IsOfferedBaud(int(speed)))
                return line.UsageError(QStringLiteral("--baud takes 9600, 19200 or 38400"));
            options.baudText = QString::number(speed);
        }
        options.files = positional;
        // A restart is checked, and its preamble read, before any port is opened.
        const RestartOptions::Choice restart = RestartOptions::Choose(
            parser, options.tape.has_value(), positional.size(), line.Language());
        if (restart.exitStatus == kExitUsage)
            return line.UsageError(restart.reason);
        if (restart.exitStatus != kExitDone) {
            Console::Err(QStringLiteral("tapeway-cli send: ") + restart.reason);
            return restart.exitStatus;
        }
        options.restart = restart.restart;
    }

    for (const QString& note : protocol.notes)
        Console::Err(note);

    ProgressReporter progress;
    QString journalError;
    const std::optional<JournalLocation> journalLocation = line.Journal(&journalError);
    JournalThread journal(journalLocation, journalError);
    // A journal that fails changes nothing of the transfer: one line says so.
    QObject::connect(
        &journal, &JournalThread::JournalFailed, &journal,
        [&](bool keptLocally, const QString& reason) {
            progress.Note(
                JournalFailureText(line.Language(), keptLocally, reason).replace(u'\n', u' '));
        });
    SerialPort serial;
    CliHost host(progress);
    TransferSession session(serial, host);
    host.Configure(options);
    host.SetSession(&session);
    host.SetJournal(&journal);
    QObject::connect(&serial, &SerialPort::OnComm, &session, &TransferSession::OnComm);
    SignalNotifier interrupts;
    QObject::connect(&interrupts, &SignalNotifier::Interrupted, &host, &CliHost::Interrupt);
    QObject::connect(&host, &CliHost::Finished, qApp,
                     [](int status) { QCoreApplication::exit(status); });
    QTimer::singleShot(0, &session, &TransferSession::StartTransfer);
    const int status = QCoreApplication::exec();
    // The last records are written before the program ends; what the
    // journal has to say is said.
    journal.Finish();
    QCoreApplication::sendPostedEvents();
    return status;
}

} // namespace tapeway
