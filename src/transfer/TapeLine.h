// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LinkSettings.h"
#include "transfer/TapeCode.h"
#include "transfer/TapeProfile.h"

#include <QByteArray>
#include <QString>

namespace tapeway {

// The line a tape profile asks for: the port of the operator's choice with
// the profile's frame and flow control. XON/XOFF is this program's own (it
// reads DC1 and DC3 itself, to know when and how long the controller holds
// the line, and hands over so little that a stop is kept within a few
// characters), so the line's own flow control is only RTS/CTS.
LinkSettings TapeLinkSettings(const TapeProfile& profile, const LinkSettings& port);

// The character a checker refused, as the operator sees it: "中" (U+4E2D)
// for a UTF-8 character, else the byte as 0xE4.
QString RefusedCharacterText(const QByteArray& text, const TapeTextChecker& checker);

// "ISO" or "EIA".
QString CodeName(TapeCodeKind code);

} // namespace tapeway
