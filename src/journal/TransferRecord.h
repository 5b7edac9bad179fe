// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace tapeway {

struct FileReport;

// One file a session handled, as the journal keeps it: what the session
// reported and who and where the host adds.
struct TransferRecord
{
    QString id;        // unique over every journal (a UUID): a copy never doubles
    QDateTime started; // UTC
    QDateTime ended;   // UTC
    bool receive = false;
    QString port;
    int baud = 0; // speed of the data phase; 0 when it never began
    QString path; // absolute path of the local file
    qint64 bytes = 0;
    QString sha256;  // lower-case hex of the exact bytes; empty when nothing was verified
    QString outcome; // a FileReport code
    QString message; // the English text of the message shown
    QString detail;  // the system's reason, where there is one
    QString version; // of the program that moved the file
    QString host;
    QString user;
    QString line;         // name of a service line; empty for the dialog and tapeway-cli
    bool pending = false; // kept here only because the configured journal failed
    QString journal;      // pending: the journal it waits for (JournalLocation::Key); empty
                          // when unknown (written by an older program)
    QString protocol = QStringLiteral("packet"); // the line's protocol: "packet" or "tape"
    QString profile; // the tape protocol's profile; empty for the packet protocol
    // A tape send that restarted within the file: the line it began at (from
    // 1; 0 when from the top) and the block number the operator named.
    qint64 startLine = 0;
    std::optional<qint64> startBlock;
    // A received program approved into a line's library or rejected: the
    // SHA-256 (lower-case hex) of the library's version then, replaced or
    // kept; empty when the library held none.
    QString librarySha256;

    QString Direction() const;
    // Where a restarted feed began, in English ("from block N41200 (line
    // 51234)", "from line 51234"); empty when it began at the top.
    QString StartText() const;
    // "send" / "receive"; false for any other text.
    static bool ParseDirection(const QString& text, bool* receive);

    // A record of a finished file: a new id, the English message, the
    // program's version, this machine's name and the user's.
    static TransferRecord FromReport(const FileReport& report, const QString& port,
                                     const QString& line = QString());
    // Newest first (end time, then start time, then id): the order of every listing.
    static void SortNewestFirst(QList<TransferRecord>& records);
};

// What a listing asks for; empty fields do not filter.
struct JournalQuery
{
    QDateTime since; // ended at or after
    QDateTime until; // ended before
    QString pathContains;
    QString line;      // exactly this service line's records
    QString direction; // "send" or "receive"
    QString outcome;
    QString sha256;           // with delivered: only sent or received (saved) files
    bool delivered = false;   // outcome sent or received
    bool pendingOnly = false; // records waiting to be copied to the configured journal
    QString pendingFor;       // with pendingOnly: only those waiting for this journal (its
                              // Key) or for none named
    int limit = 0;            // 0: every record
};

} // namespace tapeway
