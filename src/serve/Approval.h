// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/ServeConfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tapeway {

// The check of what a line's machine punched, on a line with Approve=yes:
// its received programs wait in pending/ under the inbox. Approve moves one
// into the line's library (a program of that name already there is replaced
// only when asked to), Reject moves it to rejected/ under the inbox, Diff
// shows it against the library's version. Names are plain file names in
// pending/; nothing outside the line's folders is ever read or written.
class Approval
{
public:
    // Journal outcomes of the two decisions.
    static constexpr const char* kApproved = "approved";
    static constexpr const char* kRejected = "rejected";

    enum class Refusal
    {
        None,
        BadName,    // not a plain file name
        NoLibrary,  // the line has no Library=
        NotPending, // no such program waits
        NotRegular, // the pending name or the library's is no regular file
        InLibrary,  // the library holds the name and replacing was not asked for
        System,     // a file could not be read or moved: detail says why
    };

    struct Result
    {
        Refusal refusal = Refusal::None;
        QString pending;     // the program in pending/
        QString path;        // where it is now (approve: the library, reject: rejected/)
        QString libraryPath; // the library's file of that name (there or not)
        qint64 bytes = 0;
        QByteArray sha256;        // of the pending program
        QByteArray librarySha256; // of the library's version (replaced or kept); empty when none
        QString diff;             // Diff: the unified diff, empty when the lines are the same
        bool sameBytes = false;   // Diff: the two are byte for byte the same
        QString detail;           // the system's reason

        bool Ok() const { return refusal == Refusal::None; }
    };

    explicit Approval(const LineConfig& line);

    // A name of a file in one folder: not empty, no '/', '\', "..", NUL,
    // and not hidden (no leading '.').
    static bool IsPlainName(const QString& name);

    QString PendingFolder() const;
    // The names waiting in pending/, in name order (regular files, not hidden).
    QStringList Pending() const;

    Result Approve(const QString& name, bool replace) const;
    Result Reject(const QString& name) const;
    Result Diff(const QString& name) const;

private:
    // Reads the pending program and what the library holds of its name.
    Result Look(const QString& name, QByteArray* data, QByteArray* library) const;

    LineConfig m_line;
};

} // namespace tapeway
