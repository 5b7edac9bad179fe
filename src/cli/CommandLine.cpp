// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "resources/StringTable.h"
#include "settings/SettingsStore.h"

#include <QRegularExpression>

namespace tapeway {

CommandLine::CommandLine(const QString& command, const QString& description)
    : m_command(command), m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                 QStringLiteral("Shows this help.")),
      m_lang(QStringLiteral("lang"),
             QStringLiteral("Language of the messages: en (default) or zh."),
             QStringLiteral("en|zh"), QStringLiteral("en")),
      m_journal(QStringLiteral("journal"),
                QStringLiteral("Transfer journal: sqlite:PATH, "
                               "postgresql://user@host[:port]/db or off (default: "
                               "TAPEWAY_JOURNAL, [JOURNAL] Location in RS232.ini, else "
                               "journal.sqlite in the data folder). A PostgreSQL password "
                               "belongs in ~/.pgpass or PGPASSWORD, not here: ps shows "
                               "every argument."),
                QStringLiteral("URL"))
{
    m_parser.setApplicationDescription(description);
    m_parser.addOption(m_help);
    m_parser.addOption(m_lang);
    m_parser.addOption(m_journal);
}

std::optional<int> CommandLine::Parse(const QStringList& args)
{
    if (!m_parser.parse(args))
        return UsageError(m_parser.errorText());
    if (m_parser.isSet(m_help)) {
        QString help = m_parser.helpText();
        // The parser names the program only; the command belongs in the usage line.
        help.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                     QStringLiteral("Usage: tapeway-cli ") + m_command);
        Console::Out(help.trimmed());
        return kExitDone;
    }
    const QString lang = m_parser.value(m_lang).toLower();
    if (lang == QStringLiteral("en"))
        m_language = kEnglish;
    else if (lang == QStringLiteral("zh"))
        m_language = kChinese;
    else
        return UsageError(QStringLiteral("--lang takes en or zh, not \"%1\"").arg(lang));
    QString reason;
    if (m_parser.isSet(m_journal) && !JournalLocation::Parse(m_parser.value(m_journal), &reason))
        return UsageError(QStringLiteral("--journal: ") + reason);
    return std::nullopt;
}

std::optional<JournalLocation> CommandLine::Journal(QString* error) const
{
    return JournalLocation::Configured(
        m_parser.value(m_journal), SettingsStore(JournalLocation::ProgramSettingsPath()), error);
}

std::optional<int> CommandLine::ParseCommand(const QStringList& args)
{
    QStringList commandArgs = args;
    commandArgs.removeAt(1);
    return Parse(commandArgs);
}

std::optional<int> CommandLine::ParseOptionsOnly(const QStringList& args)
{
    if (const auto status = ParseCommand(args))
        return status;
    if (!m_parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("no arguments expected"));
    return std::nullopt;
}

int CommandLine::UsageError(const QString& reason) const
{
    Console::Err(QStringLiteral("tapeway-cli %1: %2").arg(m_command, reason));
    Console::Err(QStringLiteral("Try 'tapeway-cli %1 --help'.").arg(m_command));
    return kExitUsage;
}

bool CommandLine::ToInt(const QString& text, qint64 minimum, qint64* value)
{
    bool ok = false;
    const qint64 number = text.trimmed().toLongLong(&ok);
    if (!ok || number < minimum)
        return false;
    *value = number;
    return true;
}

bool CommandLine::IsOfferedBaud(int baud)
{
    return baud == 9600 || baud == 19200 || baud == 38400;
}

} // namespace tapeway
