// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeCode.h"

#include <array>
#include <bit>

namespace tapeway {

namespace {

// The EIA (RS-244) rows this system reads and punches. The function codes
// are those of the YASNAC LX3 manual (Yaskawa, "YASNAC LX3", Table 2.4
// "Function Characters" and Appendix 2 Table A.2.2): end of block CR in
// channel 8, space, '(' control out in channels 2-4-5, ')' control in in
// channels 2-4-7, blank tape and DEL disregarded, ER as the rewind stop.
// The figures and letters follow the rows of the same table: the figure in
// channels 1 to 4 (0 as channel 6), a to i with channels 6 and 7, j to r with
// channel 7, s to z with channel 6, and channel 5 punched wherever the other
// holes would be even in number.
struct EiaRow
{
    char ascii;
    quint8 code;
};

constexpr std::array<EiaRow, 47> kEiaRows{{
    {'0', 0x20},
    {'1', 0x01},
    {'2', 0x02},
    {'3', 0x13},
    {'4', 0x04},
    {'5', 0x15},
    {'6', 0x16},
    {'7', 0x07},
    {'8', 0x08},
    {'9', 0x19},
    {'A', 0x61},
    {'B', 0x62},
    {'C', 0x73},
    {'D', 0x64},
    {'E', 0x75},
    {'F', 0x76},
    {'G', 0x67},
    {'H', 0x68},
    {'I', 0x79},
    {'J', 0x51},
    {'K', 0x52},
    {'L', 0x43},
    {'M', 0x54},
    {'N', 0x45},
    {'O', 0x46},
    {'P', 0x57},
    {'Q', 0x58},
    {'R', 0x49},
    {'S', 0x32},
    {'T', 0x23},
    {'U', 0x34},
    {'V', 0x25},
    {'W', 0x26},
    {'X', 0x37},
    {'Y', 0x38},
    {'Z', 0x29},
    {'/', 0x31},
    {' ', 0x10},
    {'-', 0x40},
    {'+', 0x70},
    {'.', 0x6b},
    {',', 0x3b},
    {'(', 0x1a},
    {')', 0x4a},
    {'%', 0x0b},
    {'\t', 0x3e},
    {'\n', TapeCode::kEiaEndOfBlock},
}};

} // namespace

bool TapeCode::HasOddHoles(quint8 code)
{
    return std::popcount(unsigned(code)) % 2 == 1;
}

std::optional<quint8> TapeCode::Encode(char c) const
{
    if (m_kind == TapeCodeKind::Iso) {
        const auto u = quint8(c);
        if (u == '\t' || (u >= 0x20 && u <= 0x7e))
            return u;
        return std::nullopt;
    }
    if (c == '\n' || c == '\0')
        return std::nullopt;
    for (const EiaRow& row : kEiaRows)
        if (row.ascii == c)
            return row.code;
    return std::nullopt;
}

std::optional<char> TapeCode::Decode(quint8 code) const
{
    if (m_kind == TapeCodeKind::Iso) {
        if (code == '\n' || code == '\r')
            return char(code);
        if (Encode(char(code)))
            return char(code);
        return std::nullopt;
    }
    if (code == 0x00)
        return std::nullopt;
    for (const EiaRow& row : kEiaRows)
        if (row.code == code)
            return row.ascii;
    return std::nullopt;
}

bool TapeTextChecker::Add(QByteArrayView block)
{
    if (m_refused)
        return false;
    for (const char c : block) {
        if (c == '\n' && m_afterCr) {
            m_afterCr = false;
            ++m_position.offset;
            continue;
        }
        m_afterCr = c == '\r';
        if (c == '\n' || c == '\r') {
            ++m_position.line;
            m_position.column = 1;
            ++m_position.offset;
            continue;
        }
        if (!m_code.CanCarry(c)) {
            m_refused = m_position;
            m_refusedByte = quint8(c);
            return false;
        }
        ++m_position.column;
        ++m_position.offset;
    }
    return true;
}

} // namespace tapeway
