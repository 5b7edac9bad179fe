// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli user add|remove|list --users PATH": keeps the office view's
// users file. The password comes from the terminal without echo (asked
// twice) or, when stdin is not a terminal, from its first line.
class UserCommand
{
public:
    static int Run(const QStringList& args);
};

} // namespace tapeway
