// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/ServeConfig.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace tapeway {

// Where the programs a line receives go. One that arrived whole goes to the
// inbox under the name the inbox gives it (O1234.nc, LINE-YYYYMMDD-HHMMSS.nc),
// or, on a line that approves its programs, under that name to pending/ in
// the inbox until someone approves or rejects it. What a failed receive kept
// goes to failed/ in the inbox as LINE-YYYYMMDD-HHMMSS-REASON, never among
// the programs. The folders under the inbox are made when first needed.
class InboxPlacement
{
public:
    static constexpr const char* kPending = "pending";
    static constexpr const char* kRejected = "rejected";
    static constexpr const char* kFailed = "failed";

    explicit InboxPlacement(const LineConfig& line);

    // The folder under inbox of that name (kPending, kRejected, kFailed).
    static QString Folder(const QString& inbox, const char* which);
    // Where a program that arrived whole goes: the inbox or pending/.
    QString Target() const;

    // Moves the verified program data at file (the line's placeholder) to
    // Target() under its inbox name, never over another file. The new path,
    // or empty with *error set.
    QString PlaceReceived(const QString& file, const QByteArray& data, const QDateTime& time,
                          QString* error) const;
    // Moves what a receive that ended with outcome (a FileReport code) kept
    // at kept to failed/. The new path, or empty with *error set; kept then
    // stays where it is.
    QString KeepFailed(const QString& kept, const QString& outcome, const QDateTime& time,
                       QString* error) const;
    // A visible name beside kept for a copy that stays in the recovery
    // folder: LINE-YYYYMMDD-HHMMSS-O1234.nc. The new path, else kept.
    QString NameRecovered(const QString& kept, const QDateTime& time) const;

    // Makes the folder under inbox when it is missing, never the inbox
    // itself (one that is gone is not made again).
    static bool MakeFolder(const QString& inbox, const char* which, QString* error);

private:
    QString m_line;
    QString m_inbox;
    bool m_approve = false;
};

} // namespace tapeway
