// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/VerifyCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "journal/JournalKeeper.h"
#include "journal/RecordFormat.h"
#include "transfer/SystemPath.h"

#include <QCryptographicHash>
#include <QFile>

namespace tapeway {

int VerifyCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("verify"),
                     QStringLiteral("Tells for each FILE whether its exact content (its SHA-256) "
                                    "was ever sent or received, with when, on which port of "
                                    "which machine and as which path. One line per transfer "
                                    "found: found TAB FILE TAB time TAB direction TAB port TAB "
                                    "host TAB user TAB path; else: not found TAB FILE TAB "
                                    "sha256. Exit status 0 when every FILE was found, 1 "
                                    "otherwise."));
    line.Parser().addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Files to look up."),
                                        QStringLiteral("FILE..."));
    if (const auto status = line.ParseCommand(args))
        return *status;
    const QStringList files = line.Parser().positionalArguments();
    if (files.isEmpty())
        return line.UsageError(QStringLiteral("at least one FILE is required"));

    QString journalError;
    JournalKeeper keeper(line.Journal(&journalError), journalError);
    bool everyFound = true;
    bool noted = false;
    for (const QString& name : files) {
        QFile file;
        QString reason;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        const bool opened = OpenPath(file, name, QIODevice::ReadOnly, &reason);
        if (!opened || !hash.addData(&file)) {
            Console::Err(QStringLiteral("tapeway-cli verify: %1: cannot read (%2)")
                             .arg(name, opened ? file.errorString() : reason));
            everyFound = false;
            continue;
        }
        JournalQuery query;
        query.sha256 = QString::fromLatin1(hash.result().toHex());
        query.delivered = true;
        const JournalKeeper::Listing listing = keeper.Find(query);
        if (!listing.note.isEmpty() && !noted) {
            noted = true;
            Console::Err(QStringLiteral("tapeway-cli verify: %1; looking in the local journal")
                             .arg(listing.note));
        }
        if (!listing.records) {
            Console::Err(QStringLiteral("tapeway-cli verify: ") + listing.error);
            return kExitFailed;
        }
        if (listing.records->isEmpty()) {
            everyFound = false;
            Console::Out(QStringLiteral("not found\t%1\t%2").arg(EscapeField(name), query.sha256));
            continue;
        }
        for (const TransferRecord& r : *listing.records) {
            // Every field escaped: a tab or a newline in a name, a port or a
            // user cannot split the line.
            QStringList fields{QStringLiteral("found"),
                               name,
                               RecordFormat::LocalTime(r.ended),
                               r.Direction(),
                               r.port,
                               r.host,
                               r.user,
                               r.path};
            for (QString& field : fields)
                field = EscapeField(field);
            Console::Out(fields.join(u'\t'));
        }
    }
    return everyFound ? kExitDone : kExitFailed;
}

} // namespace tapeway
