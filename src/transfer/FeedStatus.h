// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace tapeway {

// Where a tape send stands, told to the host about every second and when
// the controller holds or frees the line: the block and line going out, and
// how long ago the controller last said XON (or, while it holds the line,
// since its XOFF). A long XOFF is the machine at work (a program stop, a
// tool change), not a stalled line.
struct FeedStatus
{
    qint64 line = 0;             // the file's line going out now, from 1
    qint64 lines = 0;            // the file's lines in all
    std::optional<qint64> block; // the last block number at or before that line
    qint64 sent = 0;             // the file's bytes handed to the line
    qint64 total = 0;            // the bytes to feed (from the restart point on)
    bool held = false;           // the controller holds the line (XOFF)
    bool waitingForXon = false;  // start on XON: the controller has not asked yet
    // Since the last XON, or since the XOFF while held; nothing before the
    // controller said either.
    std::optional<qint64> msSinceFlowChange;

    bool operator==(const FeedStatus&) const = default;
};

// A string pair's text in the operator's language (SessionHost::LocalText).
using LocalTextFn = std::function<QString(int chineseId, int englishId)>;

// The status in words: "N41200, line 51234 of 1,804,220, 3 s since XON", or
// "…, the machine holds the line (XOFF) for 2 min 5 s".
QString FeedStatusText(const FeedStatus& status, const LocalTextFn& text);
// A span of time as the operator reads it: "850 ms", "12 s", "2 min 5 s",
// "1 h 4 min" (in Chinese "2分5秒").
QString SpanText(qint64 ms, bool chinese = false);
// A count with thousands separated by commas: 1,804,220.
QString GroupedNumber(qint64 n);

} // namespace tapeway
