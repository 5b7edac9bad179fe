// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/BlockHead.h"

namespace tapeway {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\0' || c == '\x7f';
}

} // namespace

void BlockHead::Begin()
{
    m_state = State::Blanks;
    m_number = 0;
    m_digits = 0;
    m_named = false;
}

bool BlockHead::Step(char c)
{
    switch (m_state) {
    case State::Blanks:
        if (IsBlank(c))
            return false;
        if (c == '/') {
            m_state = State::Slash;
            return false;
        }
        break;
    case State::Slash:
        if (c >= '1' && c <= '9') {
            m_state = State::SlashBlanks;
            return false;
        }
        [[fallthrough]];
    case State::SlashBlanks:
        if (IsBlank(c)) {
            m_state = State::SlashBlanks;
            return false;
        }
        break;
    case State::Number:
        if (c >= '0' && c <= '9') {
            ++m_digits;
            if (m_number <= kMaxNumber)
                m_number = m_number * 10 + (c - '0');
            return false;
        }
        if (IsBlank(c) && m_digits == 0)
            return false;
        return EndNumber();
    case State::Done:
        return false;
    }
    m_state = c == 'N' || c == 'n' ? State::Number : State::Done;
    return false;
}

bool BlockHead::End()
{
    return m_state == State::Number && EndNumber();
}

bool BlockHead::EndNumber()
{
    m_state = State::Done;
    m_named = m_digits > 0;
    return m_named;
}

std::optional<qint64> BlockHead::Number() const
{
    return m_named ? std::optional<qint64>(m_number) : std::nullopt;
}

} // namespace tapeway
