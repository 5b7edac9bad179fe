// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

// Texts of the command line that the dialog does not have, in both
// languages. Everything the dialog also says comes from the string table.
enum class CliMessage
{
    UseOverwrite,     // the target exists and --overwrite was not given
    WaitingForHeader, // %1 target, %2 port
    Sending,          // %1 file, %2 byte count, %3 port
    AnnouncedSpeed,   // %1 baud
    HeaderTimeout,    // %1 seconds
    Cancelled,
    SeriesEnded,   // continuous receive ended by the header timeout
    CancelledFile, // result line of a file whose transfer was cancelled
    NotSent,       // result line of a file the batch never reached
    TapeReading,   // the tape controller reads: %1 port, %2 speed and frame, %3 program count
    TapePunching,  // the tape controller punches: %1 port, %2 speed and frame, %3 file count
    TapeProgram,   // a program read: %1 file name, %2 lines, %3 bytes
    ReaderFigures, // the reader's buffer at the end: %1 overruns, %2 most characters after XOFF
};

QString CliText(int language, CliMessage message);

} // namespace tapeway
