// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli controller": the simulated CNC controller on a port, as the
// other end for tests and training, with its fault options.
class ControllerCommand
{
public:
    static int Run(const QStringList& args);
};

} // namespace tapeway
