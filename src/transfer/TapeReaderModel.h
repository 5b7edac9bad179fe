// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace tapeway {

// The input buffer of a CNC controller that reads a program from the line,
// without a port or a clock: fed the characters that arrive and told the
// time, it says which flow-control bytes to send at that moment. Times are
// microseconds of any one clock, never going back.
//
// Every character takes a place in the buffer; one that arrives when the
// buffer is full is an overrun (counted, nothing else: the caller decides
// what an overrun does). The controller takes one character out every
// 1/charactersPerSecond seconds while it has any; after it ran empty, the
// next character that arrives is taken that long after its arrival. At
// charactersPerSecond 0 every character is taken the moment it arrives, so
// the buffer never fills.
//
// The line is held with DC3 when the fill reaches xoffAt, or when the
// holdAfter-th character of the session has arrived (then for holdUs); DC1
// releases it once the fill has fallen to xonAt and the hold is over. One
// DC3 and one DC1 per holding, whichever of the two caused it. Without flow
// control (the line's RTS/CTS holds the sender, or nothing does) it sends
// neither and only counts.
//
// It also counts the characters that arrive while it holds the line, from
// the moment its DC3 has wholly left its own wire (the DC3's write time, the
// time of the call that gave it, plus one character time) until its DC1:
// what the sender sent although it had been told to stop.
//
// And it measures how long its buffer stood empty while the controller
// wanted characters, as a machine that cuts while it reads would stand
// still: from the first time the fill reached xoffAt (the first fill; before
// it the program has only begun to arrive) to the last character, every span
// from the take that left the buffer empty to the next character's arrival,
// less what of it falls within a hold (the controller then wants nothing).
// Each such span is one time the buffer ran dry. At charactersPerSecond 0
// the buffer never fills, and nothing is measured.
class TapeReaderModel
{
public:
    struct Settings
    {
        int bufferSize = 256;
        int xoffAt = 224;
        int xonAt = 64;
        int charactersPerSecond = 0;
        qint64 holdAfter = 0; // 0: no hold
        qint64 holdUs = 0;
        bool flowControl = true;
        qint64 characterUs = 1146; // one character on the wire: 7E2 at 9600 baud

        // The thresholds for a buffer: DC3 a quarter of the buffer (at most
        // 32) before it is full, DC1 at half of that fill, at most 64.
        static int DefaultXoffAt(int bufferSize);
        static int DefaultXonAt(int xoffAt);
        // The wire time of one character, rounded up.
        static qint64 CharacterUs(int baud, int bitsPerCharacter);

        // Whether the settings can work: a buffer of at least one character,
        // 0 <= xonAt < xoffAt <= bufferSize, no negative rate or hold.
        bool IsValid() const;
    };

    explicit TapeReaderModel(const Settings& settings);

    // The operator presses READ: DC1, unless the line is held (its DC1 will
    // start the sender then).
    QByteArray PressRead(qint64 nowUs);
    // count characters arrived at nowUs.
    QByteArray Receive(qint64 count, qint64 nowUs);
    // The time has come to nowUs.
    QByteArray Advance(qint64 nowUs);
    // When Advance will next have a byte to send, as far as it can be known
    // now (more characters may push it back); nothing while the line is not
    // held.
    std::optional<qint64> NextChangeUs() const;

    int Fill() const { return m_fill; }
    bool IsHoldingLine() const { return m_lineHeld; }
    qint64 Received() const { return m_received; }
    qint64 Overruns() const { return m_overruns; }
    // While the line is held, what has arrived after its DC3 so far.
    qint64 CharactersAfterXoff() const { return m_lineHeld ? m_afterXoff : 0; }
    // The most that arrived after one DC3, the current one included.
    qint64 MostCharactersAfterXoff() const { return m_mostAfterXoff; }
    // Whether the fill has reached xoffAt once: the empty time counts from then.
    bool HasFilled() const { return m_filled; }
    // The time the buffer stood empty after its first fill, and how often.
    qint64 EmptyUs() const { return m_emptyUs; }
    qint64 TimesRanDry() const { return m_timesRanDry; }

private:
    void Consume(qint64 nowUs);
    // When the k-th character from now will be taken (k >= 1).
    qint64 TakeTimeUs(qint64 k) const;
    bool WantsLineHeld() const { return m_fullStop || m_holding; }
    QByteArray Release();

    Settings m_settings;
    int m_fill = 0;
    qint64 m_received = 0;
    qint64 m_overruns = 0;

    // Consumption runs from m_takeStartUs: m_taken characters since then.
    qint64 m_takeStartUs = 0;
    qint64 m_taken = 0;

    bool m_fullStop = false; // the fill reached xoffAt and has not fallen to xonAt
    bool m_holding = false;
    qint64 m_holdEndUs = 0;

    bool m_lineHeld = false; // DC3 sent, DC1 not yet
    qint64 m_xoffGoneUs = 0;
    qint64 m_afterXoff = 0;
    qint64 m_mostAfterXoff = 0;

    bool m_filled = false;
    qint64 m_emptySinceUs = 0; // the take that left the buffer empty
    qint64 m_emptyUs = 0;
    qint64 m_timesRanDry = 0;
};

} // namespace tapeway
