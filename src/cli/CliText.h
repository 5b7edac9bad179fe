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
    NothingArrived,   // the same on a tape line, which has no header
    Cancelled,
    SeriesEnded,         // continuous receive ended by the header timeout
    CancelledFile,       // result line of a file whose transfer was cancelled
    NotSent,             // result line of a file the batch never reached
    SendingTape,         // %1 file, %2 byte count, %3 port, %4 profile
    SendingTapeXon,      // the same, the profile waits for the controller's XON
    UnknownProtocol,     // %1 the word given
    TapeOnlyOption,      // %1 option
    ReceiveBaud,         // --baud on a packet receive
    UnknownProfile,      // %1 name, %2 the names known
    ProfileUnusable,     // %1 name, %2 the setting's problem
    ProfilesFileUnread,  // %1 path, %2 the system's reason
    ProfilesFileProblem, // %1 path, %2 line, %3 the problem
    OwnFileHeader,       // %1 path
    OwnFileMissing,      // %1 path
    PresetMark,
    OwnMark,         // %1 path
    OwnReplacesMark, // %1 path
    TapeReading,     // the tape controller reads: %1 port, %2 speed and frame, %3 program count
    TapePunching,    // the tape controller punches: %1 port, %2 speed and frame, %3 file count
    TapeProgram,     // a program read: %1 file name, %2 lines, %3 bytes
    ReaderFigures,   // the reader's buffer at the end: %1 overruns, %2 most characters after XOFF
    TwoRestarts,     // --start-at and --start-at-line together
    PreambleWithoutRestart, // --preamble without a restart
    RestartOneFile,         // a restart with more than one FILE
    BadRestartLine,         // %1 the text of --start-at-line
    ReaderEmpty,            // appended to ReaderFigures: %1 ms the buffer stood empty, %2 times
    ReaderNeverFilled,      // appended to ReaderFigures: the buffer never reached its DC3 fill
};

QString CliText(int language, CliMessage message);

} // namespace tapeway
