// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli controller --protocol tape": the simulated CNC controller of
// the tape protocol on a port, reading the programs the PC sends or punching
// files to it, with a profile, its buffer's figures and a parity fault.
class TapeControllerCommand
{
public:
    static int Run(const QStringList& args);
};

} // namespace tapeway
