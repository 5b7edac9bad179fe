// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli send" and "tapeway-cli receive": the dialog's two modes, the
// same TransferSession driven through a CliHost on the chosen port.
class TransferCommand
{
public:
    // args[0] is the program, args[1] "send" or "receive". Runs the event
    // loop until the transfer is over; returns the exit status.
    static int Run(const QStringList& args);
};

} // namespace tapeway
