// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FeedSnapshotCopy.h"

#include <QCommandLineParser>
#include <QString>
#include <optional>

namespace tapeway {

// The options of a tape send that restart the feed within its program:
// --start-at N41200 (a block number), --start-at-line 51234 (a line of the
// file) and --preamble FILE (the operator's setup lines in place of the
// program's own). A restart belongs to one program on a tape line.
class RestartOptions
{
public:
    static void AddTo(QCommandLineParser& parser);

    struct Choice
    {
        int exitStatus = 0;                 // 0: ok; else kExitUsage or kExitLocalFile
        std::optional<FeedRestart> restart; // nothing: the feed starts at the top
        QString reason;                     // why not ok, in the language
    };

    // Reads the options after a parse: tape tells whether the line speaks
    // the tape protocol, files how many FILEs were given. The preamble file
    // is read here, before any port is opened.
    static Choice Choose(const QCommandLineParser& parser, bool tape, qsizetype files,
                         int language);
};

} // namespace tapeway
