// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QtGlobal>
#include <optional>

namespace tapeway {

// The two codes a part program travels in as text.
//
// ISO: the text as 7-bit ASCII; the line's frame adds the parity bit. It
// carries the printable characters, space and TAB; the line ends are the
// blocks' ends.
//
// EIA: 8 data bits, one byte a row of tape holes (channel 1 the lowest bit,
// channel 8 the highest), every code with an odd number of holes; channel 5
// is the parity hole. End of block is its own code (channel 8 alone), end of
// record (rewind stop) stands for '%'. Letters have one case: the text must
// spell them in capitals.
enum class TapeCodeKind
{
    Iso,
    Eia
};

class TapeCode
{
public:
    // The EIA end-of-block code, and the ASCII line end it stands for.
    static constexpr quint8 kEiaEndOfBlock = 0x80;

    explicit TapeCode(TapeCodeKind kind = TapeCodeKind::Iso) : m_kind(kind) {}

    TapeCodeKind Kind() const { return m_kind; }

    // The wire byte of one character of the text, nothing when this code
    // cannot carry it. Line ends are not characters here: each becomes the
    // end of block.
    std::optional<quint8> Encode(char c) const;

    // The character a wire byte stands for, nothing when the byte is no
    // character of this code. The EIA end of block decodes to '\n'.
    std::optional<char> Decode(quint8 code) const;

    bool CanCarry(char c) const { return Encode(c).has_value(); }

    // Whether a byte has an odd number of holes (bits set).
    static bool HasOddHoles(quint8 code);

private:
    TapeCodeKind m_kind;
};

// Where in a text a character sits: 1-based line and column, and the byte
// offset from the text's start.
struct TextPosition
{
    qint64 line = 1;
    qint64 column = 1;
    qint64 offset = 0;

    bool operator==(const TextPosition&) const = default;
};

// Checks a text block by block against what a code can carry, without
// needing the whole text: the first character it cannot carry is kept with
// its position. Lines end with LF, CR LF or CR (a CR LF split between two
// blocks is still one line end). Columns count bytes; before the first
// refused byte every byte is ASCII, so they are characters too.
class TapeTextChecker
{
public:
    explicit TapeTextChecker(TapeCode code) : m_code(code) {}

    // Checks the next block; false once a refused character has been found
    // (in this block or before).
    bool Add(QByteArrayView block);

    bool Ok() const { return !m_refused.has_value(); }
    // The first character the code cannot carry, and its first byte.
    std::optional<TextPosition> Refused() const { return m_refused; }
    quint8 RefusedByte() const { return m_refusedByte; }

    // Where the next byte would be.
    TextPosition Position() const { return m_position; }

private:
    TapeCode m_code;
    TextPosition m_position;
    bool m_afterCr = false;
    std::optional<TextPosition> m_refused;
    quint8 m_refusedByte = 0;
};

} // namespace tapeway
