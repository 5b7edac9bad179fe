// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli profiles": every tape profile a send or receive may name,
// the presets and the operator's own, each as the section of a profile file
// that would make it (so that one can be copied into the own file and
// changed there). Sections of the own file that cannot be read are named
// on stderr with their line and reason; then the exit status is 2.
class ProfilesCommand
{
public:
    static int Run(const QStringList& args);
};

} // namespace tapeway
