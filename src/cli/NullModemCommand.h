// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli null-modem [--pace [--frame 7E2]]": two linked pseudo-terminals,
// their paths on stdout (one a line), bytes forwarded until Ctrl-C or SIGTERM.
class NullModemCommand
{
public:
    static int Run(const QStringList& args);
};

} // namespace tapeway
