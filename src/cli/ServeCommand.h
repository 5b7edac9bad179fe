// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli serve": every line of a configuration file served until
// SIGTERM or SIGINT; SIGHUP reloads the file. "tapeway-cli status": the
// service's status file as a table or as it is.
class ServeCommand
{
public:
    static constexpr const char* kDefaultConfig = "/etc/tapeway/lines.ini";

    static int RunServe(const QStringList& args);
    static int RunStatus(const QStringList& args);
};

} // namespace tapeway
