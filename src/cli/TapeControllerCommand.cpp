// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/TapeControllerCommand.h"

#include "cli/CliText.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/SignalNotifier.h"
#include "cli/TapeProfileSet.h"
#include "resources/StringTable.h"
#include "transfer/TapeController.h"
#include "transfer/TapeProfileFile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace tapeway {

namespace {

constexpr qint64 kMaxBuffer = 1 << 20;
constexpr double kMaxHoldSeconds = 3600;

// The presets with the operator's own profiles over them; what in the
// operator's file cannot be used is said and left out.
QList<TapeProfile> KnownProfiles(int language)
{
    const TapeProfileSet set = TapeProfileSet::Load({}, false);
    if (const QString error = set.ReadError(language); !error.isEmpty())
        Console::Err(QStringLiteral("controller: ") + error);
    for (const QString& problem : set.ProblemLines(language))
        Console::Err(QStringLiteral("controller: ") + problem);
    return set.Profiles();
}

} // namespace

int TapeControllerCommand::Run(const QStringList& args)
{
    CommandLine line(
        QStringLiteral("controller --protocol tape"),
        QStringLiteral(
            "Plays a CNC controller of the tape protocol (plain text) on PORT.\n"
            "  read DIR [--count N]  reads N programs (default 1) the PC sends and stores each "
            "in DIR as O1234.nc by the number of its first block, else O0001.nc, O0002.nc, ...\n"
            "  punch FILE...         punches the files to the PC, one after the other\n"
            "The line is set as the profile says (--profile; without it 9600 baud, 7E2, "
            "XON/XOFF, ISO, LF); --baud to --start-on change single settings of it. Reading, "
            "the controller holds the line with DC3 and frees it with DC1 as its buffer fills "
            "and empties (XON/XOFF profiles only) and reports at the end its overruns, the "
            "most characters that arrived after one of its DC3s had left and, with --rate, how "
            "long and how often its buffer stood empty after it first filled to its DC3 fill. "
            "Exit status 1 on a failure or an overrun."));
    QCommandLineParser& parser = line.Parser();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial port."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption protocol(QStringLiteral("protocol"),
                                      QStringLiteral("tape here; packet is the other controller."),
                                      QStringLiteral("packet|tape"));
    const QCommandLineOption profileName(
        QStringLiteral("profile"),
        QStringLiteral("A tape profile: a preset or one of the operator's own profile file."),
        QStringLiteral("NAME"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Line speed."),
                                  QStringLiteral("B"));
    const QCommandLineOption frame(QStringLiteral("frame"),
                                   QStringLiteral("Data bits, parity N/E/O, stop bits, e.g. 7E2."),
                                   QStringLiteral("FRAME"));
    const QCommandLineOption handshake(QStringLiteral("handshake"), QStringLiteral("Flow control."),
                                       QStringLiteral("xonxoff|rtscts|none"));
    const QCommandLineOption code(QStringLiteral("code"), QStringLiteral("Tape code."),
                                  QStringLiteral("iso|eia"));
    const QCommandLineOption eob(QStringLiteral("eob"), QStringLiteral("End of block on the wire."),
                                 QStringLiteral("lf|crlf|cr"));
    const QCommandLineOption leader(QStringLiteral("leader"),
                                    QStringLiteral("punch: NULs before each program."),
                                    QStringLiteral("N"));
    const QCommandLineOption dcCodes(QStringLiteral("dc-codes"),
                                     QStringLiteral("punch: DC2 before and DC4 after each "
                                                    "program."));
    const QCommandLineOption startOn(
        QStringLiteral("start-on"),
        QStringLiteral("xon: reading, send DC1 (READ pressed) before every program; punching, "
                       "wait for the PC's DC1."),
        QStringLiteral("now|xon"));
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("read: how many programs (default 1)."),
                                   QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption buffer(QStringLiteral("buffer"),
                                    QStringLiteral("read: the buffer in characters (default 256)."),
                                    QStringLiteral("N"), QStringLiteral("256"));
    const QCommandLineOption xoffAt(
        QStringLiteral("xoff-at"),
        QStringLiteral("read: DC3 at this fill (default: a quarter of the buffer, at most 32, "
                       "before full)."),
        QStringLiteral("N"));
    const QCommandLineOption xonAt(
        QStringLiteral("xon-at"),
        QStringLiteral("read: DC1 when the fill falls to this (default: half the DC3 fill, at "
                       "most 64)."),
        QStringLiteral("N"));
    const QCommandLineOption rate(
        QStringLiteral("rate"),
        QStringLiteral("read: characters the controller takes from its buffer per second "
                       "(default 0: at once)."),
        QStringLiteral("CPS"), QStringLiteral("0"));
    const QCommandLineOption holdAfter(
        QStringLiteral("hold-after"),
        QStringLiteral("read: after the Nth character of the session hold the line with DC3 for "
                       "--hold-seconds."),
        QStringLiteral("N"));
    const QCommandLineOption holdSeconds(QStringLiteral("hold-seconds"),
                                         QStringLiteral("read: how long the hold lasts."),
                                         QStringLiteral("S"));
    const QCommandLineOption parityFault(
        QStringLiteral("parity-fault-at"),
        QStringLiteral("Fault, at byte offset N from 0. read: the byte received there has a "
                       "parity error (an alarm). punch: the byte sent there goes out as a line "
                       "with PARMRK presents a parity error, 0xFF 0x00 and the byte."),
        QStringLiteral("N"));
    for (const QCommandLineOption* option :
         {&port, &protocol, &profileName, &baud, &frame, &handshake, &code, &eob, &leader, &dcCodes,
          &startOn, &count, &buffer, &xoffAt, &xonAt, &rate, &holdAfter, &holdSeconds,
          &parityFault})
        parser.addOption(*option);
    parser.addPositionalArgument(QStringLiteral("ACTION"), QStringLiteral("read or punch."));
    parser.addPositionalArgument(QStringLiteral("ARGS"), QStringLiteral("DIR or FILE..."),
                                 QStringLiteral("DIR|FILE..."));
    if (const auto status = line.ParseCommand(args))
        return *status;
    const int language = line.Language();

    const QString portName = parser.value(port).trimmed();
    if (portName.isEmpty())
        return line.UsageError(QStringLiteral("--port is required"));
    QStringList positional = parser.positionalArguments();
    const QString action = positional.value(0);
    positional.removeFirst();
    const bool reading = action == QStringLiteral("read");
    if (!reading && action != QStringLiteral("punch"))
        return line.UsageError(QStringLiteral("the action is read or punch"));
    if (!reading) {
        for (const QCommandLineOption* option :
             {&count, &buffer, &xoffAt, &xonAt, &rate, &holdAfter, &holdSeconds}) {
            if (parser.isSet(*option))
                return line.UsageError(
                    QStringLiteral("--%1 is an option of read").arg(option->names().first()));
        }
    }

    TapeProfile profile;
    if (parser.isSet(profileName)) {
        const QList<TapeProfile> known = KnownProfiles(language);
        const std::optional<TapeProfile> found =
            TapeProfileFile::Find(known, parser.value(profileName));
        if (!found) {
            QStringList names;
            for (const TapeProfile& p : known)
                names << p.name;
            return line.UsageError(QStringLiteral("no tape profile \"%1\"; there are: %2")
                                       .arg(parser.value(profileName), names.join(u", ")));
        }
        profile = *found;
    }
    const std::pair<const QCommandLineOption*, const char*> overrides[] = {
        {&baud, "Baud"}, {&frame, "Frame"},   {&handshake, "Handshake"}, {&code, "Code"},
        {&eob, "Eob"},   {&leader, "Leader"}, {&startOn, "StartOn"}};
    for (const auto& [option, key] : overrides) {
        TapeProfileProblem problem;
        if (parser.isSet(*option) && !TapeProfileFile::SetValue(profile, QString::fromLatin1(key),
                                                                parser.value(*option), &problem))
            return line.UsageError(
                QStringLiteral("--%1: %2").arg(option->names().first(), problem.Message(language)));
    }
    if (parser.isSet(dcCodes))
        TapeProfileFile::SetValue(profile, QStringLiteral("DcCodes"), QStringLiteral("on"));
    if (const std::optional<TapeProfileProblem> problem = profile.Validate())
        return line.UsageError(problem->Message(language));

    qint64 faultAt = -1;
    if (parser.isSet(parityFault) && !CommandLine::ToInt(parser.value(parityFault), 0, &faultAt))
        return line.UsageError(QStringLiteral("--parity-fault-at takes a byte offset from 0"));

    TapeReaderModel::Settings reader;
    qint64 number = 0;
    QStringList files;
    if (reading) {
        if (positional.size() != 1)
            return line.UsageError(QStringLiteral("read needs one DIR"));
        if (!CommandLine::ToInt(parser.value(count), 1, &number) || number > 1000000)
            return line.UsageError(QStringLiteral("--count takes a number of programs from 1"));
        qint64 value = 0;
        if (!CommandLine::ToInt(parser.value(buffer), 1, &value) || value > kMaxBuffer)
            return line.UsageError(QStringLiteral("--buffer takes a number of characters from 1"));
        reader.bufferSize = int(value);
        reader.xoffAt = TapeReaderModel::Settings::DefaultXoffAt(reader.bufferSize);
        if (parser.isSet(xoffAt)) {
            if (!CommandLine::ToInt(parser.value(xoffAt), 1, &value) || value > kMaxBuffer)
                return line.UsageError(QStringLiteral("--xoff-at takes a fill from 1"));
            reader.xoffAt = int(value);
        }
        reader.xonAt = TapeReaderModel::Settings::DefaultXonAt(reader.xoffAt);
        if (parser.isSet(xonAt)) {
            if (!CommandLine::ToInt(parser.value(xonAt), 0, &value) || value > kMaxBuffer)
                return line.UsageError(QStringLiteral("--xon-at takes a fill from 0"));
            reader.xonAt = int(value);
        }
        if (!CommandLine::ToInt(parser.value(rate), 0, &value) || value > 1000000)
            return line.UsageError(QStringLiteral("--rate takes characters per second from 0"));
        reader.charactersPerSecond = int(value);
        if (parser.isSet(holdAfter) != parser.isSet(holdSeconds))
            return line.UsageError(QStringLiteral("--hold-after and --hold-seconds go together"));
        if (parser.isSet(holdAfter)) {
            bool ok = false;
            const double seconds = parser.value(holdSeconds).toDouble(&ok);
            if (!CommandLine::ToInt(parser.value(holdAfter), 1, &reader.holdAfter) || !ok ||
                seconds < 0 || seconds > kMaxHoldSeconds)
                return line.UsageError(QStringLiteral(
                    "--hold-after takes a character count from 1, --hold-seconds seconds"));
            reader.holdUs = qint64(seconds * 1e6);
        }
        if (!reader.IsValid())
            return line.UsageError(
                QStringLiteral(
                    "--xon-at %1 must be below --xoff-at %2, which is at most --buffer %3")
                    .arg(reader.xonAt)
                    .arg(reader.xoffAt)
                    .arg(reader.bufferSize));
    } else {
        if (positional.isEmpty())
            return line.UsageError(QStringLiteral("punch needs at least one FILE"));
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
    }

    TapeController controller(portName);
    controller.SetProfile(profile);
    controller.SetReader(reader);
    controller.SetParityFaultAt(faultAt);
    controller.SetLanguage(language);
    QString failure;
    QObject::connect(&controller, &TapeController::ProgramStored, &controller,
                     [&](const QString& path, qint64 lines, qint64 bytes) {
                         Console::Out(LocalText(language, 134, 135) + u'\t' + path);
                         Console::Err(QStringLiteral("controller: ") +
                                      CliText(language, CliMessage::TapeProgram)
                                          .arg(QFileInfo(path).fileName())
                                          .arg(lines)
                                          .arg(bytes));
                     });
    QObject::connect(&controller, &TapeController::ProgramPunched, &controller, [&](int index) {
        Console::Out(LocalText(language, 170, 171) + u'\t' + files.value(index));
    });
    QObject::connect(&controller, &TapeController::Failed, &controller, [&](const QString& reason) {
        failure = reason;
        Console::Err(QStringLiteral("controller: %1").arg(reason));
        QCoreApplication::exit(kExitFailed);
    });
    QObject::connect(&controller, &TapeController::Finished, qApp,
                     [] { QCoreApplication::exit(kExitDone); });
    SignalNotifier interrupts;
    QObject::connect(&interrupts, &SignalNotifier::Interrupted, &controller, [&](int) {
        controller.Stop();
        QCoreApplication::exit(kExitCancelled);
    });

    const bool started =
        reading ? controller.Read(positional.first(), int(number)) : controller.Punch(files);
    if (!started) {
        const bool portProblem = failure.startsWith(QStringLiteral("cannot open")) ||
                                 failure.startsWith(QStringLiteral("the port refused"));
        return portProblem ? kExitPort : kExitLocalFile;
    }
    const QString lineText = QStringLiteral("%1 %2").arg(profile.baud).arg(profile.FrameText());
    Console::Err(
        QStringLiteral("controller: ") +
        (reading ? CliText(language, CliMessage::TapeReading).arg(portName, lineText).arg(number)
                 : CliText(language, CliMessage::TapePunching)
                       .arg(portName, lineText)
                       .arg(files.size())));
    int status = QCoreApplication::exec();
    if (reading) {
        QString figures = CliText(language, CliMessage::ReaderFigures)
                              .arg(controller.Overruns())
                              .arg(controller.MostCharactersAfterXoff());
        // A reader that takes everything at once has no buffer to run dry.
        const TapeReaderModel* model = controller.ReaderModel();
        if (model && reader.charactersPerSecond > 0)
            figures += model->HasFilled()
                           ? CliText(language, CliMessage::ReaderEmpty)
                                 .arg(QString::number(double(model->EmptyUs()) / 1000.0, 'f', 1))
                                 .arg(model->TimesRanDry())
                           : CliText(language, CliMessage::ReaderNeverFilled);
        Console::Err(QStringLiteral("controller: ") + figures);
        if (status == kExitDone && controller.Overruns() > 0)
            status = kExitFailed;
    }
    return status;
}

} // namespace tapeway
