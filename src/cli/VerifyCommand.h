// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli verify FILE...": whether each file's exact content (its
// SHA-256) was ever sent or received, with when, where and as which path.
class VerifyCommand
{
public:
    // args[0] is the program, args[1] "verify". Exit status 0 when every
    // file was found, 1 otherwise.
    static int Run(const QStringList& args);
};

} // namespace tapeway
