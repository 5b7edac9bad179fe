// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli ports": the entries of the dialog's port box, in its order.
class PortsCommand
{
public:
    static int Run(const QStringList& args);
};

} // namespace tapeway
