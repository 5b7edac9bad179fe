// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

// The service's own words, in both languages. What the dialog also says
// (outcomes of a transfer) comes from the string table.
enum class ServeMessage
{
    LineStarted,    // %1 line, %2 mode, %3 port
    TapeStarted,    // %1 line, %2 mode, %3 port, %4 tape profile, %5 baud, %6 frame
    PortFailed,     // %1 line, %2 port, %3 reason, %4 seconds
    PortBack,       // %1 line, %2 port
    LocalFailed,    // %1 line, %2 reason
    Receiving,      // %1 line, %2 bytes, %3 baud
    TapeReceiving,  // %1 line, %2 baud: a punched program, its length unknown
    Received,       // %1 line, %2 file, %3 bytes, %4 seconds
    ReceiveFailed,  // %1 line, %2 bytes so far, %3 bytes announced, %4 outcome
    TapeFailed,     // %1 line, %2 bytes so far, %3 outcome
    Sending,        // %1 line, %2 file, %3 bytes
    Sent,           // %1 line, %2 file, %3 bytes, %4 seconds, %5 where it moved
    SentChanged,    // %1 line, %2 file, %3 bytes, %4 SHA-256, %5 seconds
    SendFailed,     // %1 line, %2 file, %3 failures so far, %4 most, %5 outcome
    LinkSkipped,    // %1 line, %2 the link
    KeptRecovered,  // %1 line, %2 why it could not be saved, %3 where it is kept
    KeptFailed,     // %1 line, %2 where what arrived of a failed receive is kept
    MovedToFailed,  // %1 line, %2 file, %3 where it moved
    CannotSend,     // %1 line, %2 file, %3 why
    LineStopping,   // %1 line: stops after the current file
    LineStopped,    // %1 line
    ServiceStarted, // %1 line count, %2 configuration file, %3 status file
    Reloading,      // %1 configuration file
    ReloadRejected, // the running lines go on
    HttpAtRestart,  // [HTTP] changed in a reload: the web server keeps its settings
    ServiceStopping,
    // Words of the status table.
    StateConnecting,
    StateWaiting,
    StateReceiving,
    StateSending,
    StateError,
    StateStopped,
    BytesSoFar, // %1 bytes
    ColumnLine,
    ColumnPort,
    ColumnMode,
    ColumnProtocol,
    ColumnState,
    ColumnQueue,
    ColumnLast,
    NotRunning, // %1 status file
    // The status file's folder and whether the service still runs.
    FolderRefused,  // %1 folder, %2 why
    FolderIsLink,   //
    FolderNotDir,   //
    FolderOwner,    // %1 owner's uid, %2 this user's uid
    FolderMode,     // %1 mode found (octal)
    ServiceGone,    // %1 pid, %2 status file
    ServiceStopped, // %1 when, %2 status file

    // Requests from the machine's panel.
    AskQueued,        // %1 line, %2 what was asked, %3 the files that go at the next reads
    AskNotFound,      // %1 line, %2 what was asked, %3 library, %4 reply number
    AskRefused,       // %1 line, %2 what was asked, %3 reply number
    AskNotUnderstood, // %1 line, %2 the comment, %3 reply number
    AskNoRestart,     // %1 line, %2 what was asked, %3 reply number
    AskList,          // %1 line, %2 programs in the library, %3 reply number
    ReplyNotWritten,  // %1 line, %2 folder, %3 why
    SentAsked,        // %1 line, %2 file, %3 bytes, %4 seconds
    AskedFailed,      // %1 line, %2 file, %3 outcome
};

QString ServeText(int language, ServeMessage message);

} // namespace tapeway
