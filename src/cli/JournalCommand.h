// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli journal": the transfer records, newest first, as a table, CSV
// or JSON lines; with --sync, copies the records kept locally while the
// configured journal failed to it.
class JournalCommand
{
public:
    // args[0] is the program, args[1] "journal". Returns the exit status.
    static int Run(const QStringList& args);
};

} // namespace tapeway
