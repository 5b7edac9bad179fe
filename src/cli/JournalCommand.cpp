// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/JournalCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "journal/JournalKeeper.h"
#include "journal/RecordFormat.h"
#include "transfer/FileReport.h"

namespace tapeway {

namespace {

const QStringList kOutcomes = {
    QString::fromLatin1(FileReport::kSent),       QString::fromLatin1(FileReport::kReceived),
    QString::fromLatin1(FileReport::kNotSaved),   QString::fromLatin1(FileReport::kDataError),
    QString::fromLatin1(FileReport::kLinkBroken), QString::fromLatin1(FileReport::kCancelled),
    QString::fromLatin1(FileReport::kPortError),  QString::fromLatin1(FileReport::kFileError),
    QString::fromLatin1(FileReport::kNoData)};

} // namespace

int JournalCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("journal"),
                     QStringLiteral("Lists the transfer journal, newest first: one record per "
                                    "file sent or received, also when it failed or was "
                                    "cancelled. DATE is 2026-05-31 (local time) or an ISO 8601 "
                                    "time such as 2026-05-31T14:00:00Z."));
    QCommandLineParser& parser = line.Parser();
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Records of files that ended at or after DATE."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption until(QStringLiteral("until"),
                                   QStringLiteral("Records of files that ended before DATE (a "
                                                  "plain date counts whole)."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption path(QStringLiteral("path"),
                                  QStringLiteral("Records whose path contains TEXT."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption direction(QStringLiteral("direction"),
                                       QStringLiteral("send or receive."), QStringLiteral("DIR"));
    const QCommandLineOption outcome(QStringLiteral("outcome"),
                                     QStringLiteral("Records with this outcome: ") +
                                         kOutcomes.join(QStringLiteral(", ")) + u'.',
                                     QStringLiteral("CODE"));
    const QCommandLineOption limit(QStringLiteral("limit"),
                                   QStringLiteral("At most N records (the newest)."),
                                   QStringLiteral("N"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("table (default; fits the terminal), csv or "
                                                   "json (one object per line)."),
                                    QStringLiteral("FORMAT"), QStringLiteral("table"));
    const QCommandLineOption sync(QStringLiteral("sync"),
                                  QStringLiteral("Copy the records kept in the local journal "
                                                 "while the configured journal could not be "
                                                 "written to it, each once."));
    parser.addOptions({since, until, path, direction, outcome, limit, format, sync});
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;

    QString journalError;
    JournalKeeper keeper(line.Journal(&journalError), journalError);
    if (parser.isSet(sync)) {
        for (const QCommandLineOption* filter :
             {&since, &until, &path, &direction, &outcome, &limit, &format})
            if (parser.isSet(*filter))
                return line.UsageError(QStringLiteral("--sync copies every waiting record and "
                                                      "takes no --%1")
                                           .arg(filter->names().first()));
        QString error;
        const std::optional<int> copied = keeper.Sync(&error);
        if (!copied) {
            Console::Err(QStringLiteral("tapeway-cli journal: ") + error);
            return kExitFailed;
        }
        Console::Out(
            QStringLiteral("%1 record(s) copied to %2").arg(*copied).arg(keeper.ConfiguredText()));
        return kExitDone;
    }

    JournalQuery query;
    for (const auto& [option, endOfDay, field] :
         {std::tuple{&since, false, &query.since}, std::tuple{&until, true, &query.until}}) {
        if (!parser.isSet(*option))
            continue;
        *field = RecordFormat::ParseTime(parser.value(*option), endOfDay);
        if (!field->isValid())
            return line.UsageError(QStringLiteral("--%1 takes a date such as 2026-05-31 or "
                                                  "2026-05-31T14:00:00Z")
                                       .arg(option->names().first()));
    }
    query.pathContains = parser.value(path);
    query.direction = parser.value(direction);
    bool receive = false;
    if (parser.isSet(direction) && !TransferRecord::ParseDirection(query.direction, &receive))
        return line.UsageError(QStringLiteral("--direction takes send or receive"));
    query.outcome = parser.value(outcome);
    if (parser.isSet(outcome) && !kOutcomes.contains(query.outcome))
        return line.UsageError(QStringLiteral("--outcome takes one of ") +
                               kOutcomes.join(QStringLiteral(", ")));
    if (parser.isSet(limit)) {
        qint64 n = 0;
        if (!CommandLine::ToInt(parser.value(limit), 1, &n) || n > 100000000)
            return line.UsageError(QStringLiteral("--limit takes a number from 1"));
        query.limit = int(n);
    }
    const QString style = parser.value(format).toLower();
    if (style != QStringLiteral("table") && style != QStringLiteral("csv") &&
        style != QStringLiteral("json"))
        return line.UsageError(QStringLiteral("--format takes table, csv or json"));

    const JournalKeeper::Listing listing = keeper.Find(query);
    if (!listing.note.isEmpty())
        Console::Err(
            QStringLiteral("tapeway-cli journal: %1; listing the local journal").arg(listing.note));
    if (!listing.records) {
        Console::Err(QStringLiteral("tapeway-cli journal: ") + listing.error);
        return kExitFailed;
    }
    const QList<TransferRecord>& records = *listing.records;
    if (style == QStringLiteral("csv")) {
        Console::OutRaw(RecordFormat::Csv(records));
    } else if (style == QStringLiteral("json")) {
        for (const TransferRecord& record : records)
            Console::Out(RecordFormat::JsonLine(record));
    } else if (records.isEmpty()) {
        Console::Err(QStringLiteral("No records."));
    } else {
        Console::OutRaw(RecordFormat::Table(records, Console::OutWidth()));
    }
    return kExitDone;
}

} // namespace tapeway
