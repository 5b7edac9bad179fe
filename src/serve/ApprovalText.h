// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

// The words of approve, reject and diff, in both languages.
enum class ApprovalMessage
{
    BadName,      // %1 the name given
    UnknownLine,  // %1 line, %2 configuration file, %3 the lines there
    NoLibrary,    // %1 line, %2 configuration file
    NotPending,   // %1 name, %2 pending folder, %3 the names waiting
    NothingWaits, // stands for %3 of NotPending
    NotRegular,   // %1 path
    InLibrary,    // %1 the library's file, %2 line, %3 name
    Approved,     // %1 name, %2 where it is now
    Replaced,     // appended to Approved: %1 SHA-256 of the version replaced
    Rejected,     // %1 name, %2 where it is now
    Same,         // %1 library's file, %2 pending file
    OnlyLineEnds, // %1 library's file, %2 pending file
    Failed,       // %1 name, %2 the system's reason
    NeedsName,    // the command's two arguments
};

QString ApprovalText(int language, ApprovalMessage message);

} // namespace tapeway
