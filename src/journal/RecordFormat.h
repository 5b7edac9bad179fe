// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/TransferRecord.h"

#include <QList>
#include <QString>

namespace tapeway {

// Transfer records as text: CSV (RFC 4180, for spreadsheets), JSON (one
// object per line) and a table for a terminal.
class RecordFormat
{
public:
    // The CSV header line and one line per record; lines end with CR LF.
    static QString Csv(const QList<TransferRecord>& records);
    static QString JsonLine(const TransferRecord& record);
    // Columns fitted to width characters (0: no limit); the path gives way
    // first, keeping its end. Times in local time.
    static QString Table(const QList<TransferRecord>& records, int width);

    // Local time to the second, as listings show it.
    static QString LocalTime(const QDateTime& time);
    // A time as the options take it: a date (its start, local time) or an
    // ISO 8601 date and time (local time unless it names a zone). With
    // endOfDay a plain date means the start of the next day.
    static QDateTime ParseTime(const QString& text, bool endOfDay);
};

} // namespace tapeway
