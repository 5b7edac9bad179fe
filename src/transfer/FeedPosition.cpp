// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FeedPosition.h"

namespace tapeway {

FeedPosition::FeedPosition(qint64 firstLine, qint64 leadBytes, std::optional<qint64> startBlock)
    : m_line(firstLine), m_skip(leadBytes), m_block(startBlock)
{
}

void FeedPosition::Add(QByteArrayView bytes)
{
    qsizetype i = 0;
    if (m_skip > 0) {
        const qsizetype skipped = qsizetype(qMin<qint64>(m_skip, bytes.size()));
        m_skip -= skipped;
        i = skipped;
    }
    for (; i < bytes.size(); ++i)
        Step(bytes[i]);
}

void FeedPosition::Step(char c)
{
    if (m_lineEnded) {
        if (c == '\n' && m_afterCr) {
            m_afterCr = false; // the LF of a CR LF: the line ended at the CR
            return;
        }
        // The first character after a line's end begins the next line.
        m_lineEnded = false;
        m_afterCr = false;
        ++m_line;
        m_head.Begin();
    }
    if (c == '\n' || c == '\r') {
        if (m_head.End())
            m_block = m_head.Number();
        m_lineEnded = true;
        m_afterCr = c == '\r';
        return;
    }
    if (m_head.Step(c))
        m_block = m_head.Number();
}

} // namespace tapeway
