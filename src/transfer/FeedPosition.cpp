// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FeedPosition.h"

namespace tapeway {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\0' || c == '\x7f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

constexpr int kMaxDigits = 9;

} // namespace

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
        m_head = Head::Blanks;
    }
    if (c == '\n' || c == '\r') {
        if (m_head == Head::Number)
            EndNumber();
        m_lineEnded = true;
        m_afterCr = c == '\r';
        return;
    }
    switch (m_head) {
    case Head::Blanks:
        if (IsBlank(c))
            return;
        if (c == '/') {
            m_head = Head::Slash;
            return;
        }
        break;
    case Head::Slash:
        if (IsBlank(c) || (c >= '1' && c <= '9')) {
            m_head = Head::SlashBlanks;
            return;
        }
        break;
    case Head::SlashBlanks:
        if (IsBlank(c))
            return;
        break;
    case Head::Number:
        if (IsDigit(c) && m_digits < kMaxDigits) {
            m_number = m_number * 10 + (c - '0');
            ++m_digits;
            return;
        }
        if (IsBlank(c) && m_digits == 0)
            return;
        EndNumber();
        return;
    case Head::Done:
        return;
    }
    if (c == 'N' || c == 'n') {
        m_head = Head::Number;
        m_number = 0;
        m_digits = 0;
        return;
    }
    m_head = Head::Done;
}

void FeedPosition::EndNumber()
{
    if (m_digits > 0)
        m_block = m_number;
    m_head = Head::Done;
}

} // namespace tapeway
