// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeProfile.h"

#include <QString>

namespace tapeway {

class SessionHost;

// The checks a transfer makes of the operator's choices before it touches
// the line; each tells the operator (through the host) when it fails.

// The typed speed of a send is a whole number the port can be set to.
bool CheckBaudText(SessionHost& host);

// The host's language as the protocols' texts take it: 0 Chinese, 1 English.
int HostLanguage(const SessionHost& host);

// A tape profile that cannot work is refused (a receive is ended with it).
// The hosts check their profiles; this catches one that slipped through.
bool CheckTapeProfile(SessionHost& host, const TapeProfile& profile, bool receiving);

// A port's open failure (the system's reason) with a hint for the usual causes.
QString PortProblemText(const SessionHost& host, const QString& reason);

} // namespace tapeway
