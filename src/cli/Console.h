// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

// The two output streams of the command line: results on stdout, everything
// a person reads on stderr. Text goes out as UTF-8 and is flushed at once,
// so that a program reading the pipe sees each line when it is written.
class Console
{
public:
    static void Out(const QString& line);
    // Writes text to stdout as it is (no newline added).
    static void OutRaw(const QString& text);
    static void Err(const QString& line);
    // Writes text to stderr as it is (no newline added), for a live bar.
    static void ErrRaw(const QString& text);
    static bool ErrIsTerminal();
    // The width of the terminal stdout goes to; 0 when it goes elsewhere.
    static int OutWidth();
};

} // namespace tapeway
