// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/BlockHead.h"

#include <QByteArrayView>
#include <optional>

namespace tapeway {

// Where a feed stands in its file, told the file's bytes in the order they
// go out: the line going out and the block number of the last line that
// began with one, as BlockHead reads a line's head (the restart finds
// blocks the same way). The bytes before the file's first (a
// restart's '%' and preamble) are passed over; until a block number goes
// out, the block is the one the feed restarted at.
class FeedPosition
{
public:
    // The feed begins at line firstLine of the file (from 1) after
    // leadBytes of its own; startBlock is the block it restarts at.
    FeedPosition(qint64 firstLine, qint64 leadBytes, std::optional<qint64> startBlock = {});

    void Add(QByteArrayView bytes);

    // The line of the last character gone out (firstLine before any).
    qint64 Line() const { return m_line; }
    std::optional<qint64> Block() const { return m_block; }

private:
    void Step(char c);

    qint64 m_line;
    qint64 m_skip;
    std::optional<qint64> m_block;
    bool m_lineEnded = false; // the last character ended its line
    bool m_afterCr = false;   // ... and it was a CR
    BlockHead m_head;
};

} // namespace tapeway
