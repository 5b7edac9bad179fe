// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/JournalLocation.h"

#include <QCommandLineParser>
#include <QStringList>
#include <optional>

namespace tapeway {

// What every command of tapeway-cli shares: --help, --lang en|zh,
// --journal URL, and the way a wrong command line is reported (the reason and
// the usage on stderr, exit status 2).
class CommandLine
{
public:
    CommandLine(const QString& command, const QString& description);

    QCommandLineParser& Parser() { return m_parser; }

    // Parses args (args[0] is the program). Returns an exit status when the
    // command is over already: 0 after --help, 2 after a usage error.
    std::optional<int> Parse(const QStringList& args);
    // The same for the arguments of a command as main() hands them on:
    // args[1] is the command's name.
    std::optional<int> ParseCommand(const QStringList& args);
    // ParseCommand for a command that takes options only.
    std::optional<int> ParseOptionsOnly(const QStringList& args);

    // 0 Chinese, 1 English; valid after Parse.
    int Language() const { return m_language; }
    // The journal chosen by --journal, TAPEWAY_JOURNAL, [JOURNAL] Location
    // in the dialog's RS232.ini or the default; valid after Parse. nullopt
    // when a text from the environment or the settings is wrong (a wrong
    // --journal is a usage error); error says which and why.
    std::optional<JournalLocation> Journal(QString* error) const;

    // Reports a usage error and gives the exit status for it.
    int UsageError(const QString& reason) const;

    // A whole number of at least minimum from an option; false (and a usage
    // error is due) when the text is not one.
    static bool ToInt(const QString& text, qint64 minimum, qint64* value);
    // The speeds the line may be switched to by a send.
    static bool IsOfferedBaud(int baud);

private:
    QString m_command;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_lang;
    QCommandLineOption m_journal;
    int m_language = 1;
};

} // namespace tapeway
