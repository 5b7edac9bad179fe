// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeCode.h"
#include "transfer/TapeProfile.h"

#include <QByteArray>
#include <QByteArrayView>

namespace tapeway {

// The receiving side of the tape protocol, without a port, a file or a timer:
// fed what arrives and told the time, it collects the program.
//
// It waits for the first byte as long as it is left waiting. NULs, DEL and
// DC1 to DC4 are dropped wherever they come (in EIA: blank tape, DEL, BS and
// the DC codes that are no EIA character; 0x13 is the figure 3 there). With
// end rule percent the program runs from the first '%' to the closing '%'
// and everything before the first '%' is leader; with end rule idle it runs
// from the first character to the idle time's silence. Every end of block
// (LF, CR LF, CR, LF followed by CRs; EIA's end of block) becomes the saved
// line end, and the program ends with one line end.
//
// The line marks a character with a parity error as termios PARMRK does:
// 0xFF 0x00 c, a real 0xFF as 0xFF 0xFF, a break as 0xFF 0x00 0x00. Marks
// are read when the frame has parity (the line asks for them then).
//
// Positions are 1-based lines and columns of the program (its first '%' is
// line 1, column 1); before that, of what came before it.
class TapeReceiver
{
public:
    enum class State
    {
        WaitingForData, // nothing has arrived
        Leader,         // bytes came, the program has not begun
        InProgram,
        Complete,
        Failed
    };

    enum class Failure
    {
        None,
        Parity,      // a character arrived with a parity error
        Break,       // the line was broken off within the program
        UnknownCode, // a byte that is no character of the code
        EvenHoles,   // EIA: a byte with an even number of holes
        TvCheck,     // a block with an odd number of characters
        Silence      // nothing for the idle time before the program ended
    };

    explicit TapeReceiver(const TapeProfile& profile);

    // Whether 0xFF starts a mark; by default when the frame has parity.
    void SetParityMarks(bool on) { m_marks = on; }

    void Feed(QByteArrayView bytes, qint64 nowMs);
    // Lets the receiver see the time pass without bytes.
    void Poll(qint64 nowMs);

    State CurrentState() const { return m_state; }
    Failure FailureKind() const { return m_failure; }
    // Where the failure is: for a character, its position; for a block, the
    // position of its end; for silence, where the next character would be.
    TextPosition FailurePosition() const { return m_failureAt; }

    // The program text collected (in the saved form), also after a failure.
    const QByteArray& Text() const { return m_text; }
    // Hands the collected text over and clears it (the count stays).
    QByteArray TakeText();

    qint64 LinesReceived() const { return m_lines; }
    qint64 BytesReceived() const { return m_bytes; }
    qint64 TextBytes() const { return m_textBytes; }

private:
    void Byte(quint8 b);
    void Character(char c);
    void LineEnd(char c);
    void Fail(Failure kind, TextPosition at);

    TapeProfile m_profile;
    TapeCode m_code;
    bool m_marks;
    State m_state = State::WaitingForData;
    Failure m_failure = Failure::None;
    TextPosition m_failureAt;

    int m_markStep = 0; // bytes of a mark seen: 1 after 0xFF, 2 after 0xFF 0x00
    qint64 m_lastByteMs = 0;
    bool m_afterCr = false;
    bool m_afterLf = false;
    qint64 m_blockCharacters = 0; // of the current block, for the TV check
    bool m_programLineOpen = false;

    TextPosition m_position; // of the next character
    QByteArray m_text;
    QByteArray m_lineEnd;
    qint64 m_lines = 0;
    qint64 m_bytes = 0;
    qint64 m_textBytes = 0;
};

} // namespace tapeway
