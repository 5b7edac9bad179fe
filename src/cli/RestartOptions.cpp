// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RestartOptions.h"

#include "cli/CliText.h"
#include "cli/CommandLine.h"
#include "cli/ExitCode.h"
#include "transfer/PreambleFile.h"
#include "transfer/RestartLocator.h"

namespace tapeway {

namespace {

const QString kStartAt = QStringLiteral("start-at");
const QString kStartAtLine = QStringLiteral("start-at-line");
const QString kPreamble = QStringLiteral("preamble");

RestartOptions::Choice Refused(int status, const QString& reason)
{
    RestartOptions::Choice choice;
    choice.exitStatus = status;
    choice.reason = reason;
    return choice;
}

} // namespace

void RestartOptions::AddTo(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(
        kStartAt,
        QStringLiteral("Tape send: restart the program at the block of this number (N41200 or "
                       "41200). The wire carries %, the preamble and the program from that block "
                       "to its end. A number the file does not hold, or holds more than once, is "
                       "refused before the line is touched."),
        QStringLiteral("N")));
    parser.addOption(QCommandLineOption(
        kStartAtLine,
        QStringLiteral("Tape send: restart the program at this line of the file (from 1)."),
        QStringLiteral("LINE")));
    parser.addOption(QCommandLineOption(
        kPreamble,
        QStringLiteral("Tape send, with --start-at or --start-at-line: the lines of FILE go out "
                       "before the restart block, in place of the program's lines before its "
                       "first axis word."),
        QStringLiteral("FILE")));
}

RestartOptions::Choice RestartOptions::Choose(const QCommandLineParser& parser, bool tape,
                                              qsizetype files, int language)
{
    const bool atBlock = parser.isSet(kStartAt);
    const bool atLine = parser.isSet(kStartAtLine);
    const bool preamble = parser.isSet(kPreamble);
    if (!atBlock && !atLine && !preamble)
        return {};
    if (!tape) {
        const QString option = atBlock ? kStartAt : atLine ? kStartAtLine : kPreamble;
        return Refused(
            kExitUsage,
            CliText(language, CliMessage::TapeOnlyOption).arg(QStringLiteral("--") + option));
    }
    if (atBlock && atLine)
        return Refused(kExitUsage, CliText(language, CliMessage::TwoRestarts));
    if (!atBlock && !atLine)
        return Refused(kExitUsage, CliText(language, CliMessage::PreambleWithoutRestart));
    if (files != 1)
        return Refused(kExitUsage, CliText(language, CliMessage::RestartOneFile));

    FeedRestart restart;
    if (atBlock) {
        const auto number = RestartLocator::ParseBlockNumber(parser.value(kStartAt));
        if (const auto* problem = std::get_if<RestartProblem>(&number))
            return Refused(kExitUsage, QStringLiteral("--start-at: ") + problem->Message(language));
        restart.by = FeedRestart::By::Block;
        restart.number = std::get<qint64>(number);
    } else {
        qint64 line = 0;
        if (!CommandLine::ToInt(parser.value(kStartAtLine), 1, &line))
            return Refused(
                kExitUsage,
                CliText(language, CliMessage::BadRestartLine).arg(parser.value(kStartAtLine)));
        restart.by = FeedRestart::By::Line;
        restart.number = line;
    }
    if (preamble) {
        const PreambleFile file = PreambleFile::Read(parser.value(kPreamble));
        if (!file.bytes)
            return Refused(kExitLocalFile, QStringLiteral("--preamble: ") + file.Message(language));
        restart.preamble = file.bytes;
    }
    Choice choice;
    choice.restart = restart;
    return choice;
}

} // namespace tapeway
