// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>
#include <optional>

namespace tapeway {

// The head of a program's line as it may name a block: blanks (spaces, tabs,
// NULs, DELs), optionally the block-delete slash with or without its level
// digit 1..9 ("/N100", "/2 N100"), blanks, "N" or "n", blanks, then the
// digits, with leading zeros (N0100 is block 100). Anything else before the
// N, a comment "(N100)" included, makes the line name no block. Fed the
// line's characters one at a time, its line end not among them.
class BlockHead
{
public:
    // Numbers grow no further past this: no block has one.
    static constexpr qint64 kMaxNumber = 999999999;

    // A new line begins.
    void Begin();
    // One character of the line; true when it ended the block number.
    bool Step(char c);
    // The line ended; true when that ended the block number.
    bool End();

    // Nothing more in the line can change what its head says.
    bool Done() const { return m_state == State::Done; }
    // The block number, once it has ended (past kMaxNumber when it had more
    // digits than any block); nothing when the line names none.
    std::optional<qint64> Number() const;

private:
    enum class State
    {
        Blanks,      // the line's leading blanks
        Slash,       // just after the block-delete slash
        SlashBlanks, // blanks after the slash (and its level digit)
        Number,      // after the N: blanks, then the digits
        Done         // the head says no more
    };

    bool EndNumber();

    State m_state = State::Blanks;
    qint64 m_number = 0;
    int m_digits = 0;
    bool m_named = false;
};

} // namespace tapeway
