#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli null-modem [--pace]": two linked pseudo-terminals, their paths
// on stdout (one a line), bytes forwarded until Ctrl-C or SIGTERM.
class NullModemCommand
{
public:
    static int Run(const QStringList& args);
};

} // namespace tapeway
