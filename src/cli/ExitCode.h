// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tapeway {

// Exit status of tapeway-cli.
enum ExitCode : int
{
    kExitDone = 0,        // everything done
    kExitFailed = 1,      // a transfer failed or a file was skipped
    kExitUsage = 2,       // the command line was wrong
    kExitPort = 3,        // the port cannot be opened
    kExitLocalFile = 4,   // a local file problem (target exists, cannot be created or written)
    kExitCancelled = 130, // Ctrl-C or SIGTERM
};

} // namespace tapeway
