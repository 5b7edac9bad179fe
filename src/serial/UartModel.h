// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>
#include <deque>
#include <optional>

namespace tapeway {

// The transmit side of one UART, as time passes: told the time, handed the
// characters the driver gives it, it says when each one has left the wire.
// No port, no clock of its own; times are nanoseconds on the caller's clock.
//
// Like a 16550: a shift register puts one character on the wire, a FIFO of
// kFifoDepth holds the next ones. The FIFO takes characters only while it has
// room, so what a program wrote beyond that waits in the driver's buffer
// (for the caller: unread in the kernel). Stopped by flow control, the UART
// takes nothing more, but what it holds still goes out: at most
// kFifoDepth + 1 characters follow a stop.
//
// A character starts at the speed in force when it starts and keeps it until
// its last stop bit; at speed 0 (unknown) it is timed as at 9600 baud.
class UartModel
{
public:
    static constexpr int kFifoDepth = 16;

    // The character frame: start bit, data bits, parity bit, stop bits.
    struct Frame
    {
        enum class Parity
        {
            None,
            Even,
            Odd,
            Mark,
            Space
        };
        int dataBits = 8;
        Parity parity = Parity::None;
        int stopBits = 1;

        int BitsPerCharacter() const
        {
            return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits;
        }
        // The bits that carry data, e.g. 0x7F for seven.
        quint8 DataMask() const { return quint8((1u << dataBits) - 1); }
        bool operator==(const Frame&) const = default;

        // "8N1", "7E2", "7O1": data bits 5 to 8, parity N/E/O/M/S (either
        // case), stop bits 1 or 2. nullopt for anything else.
        static std::optional<Frame> Parse(const QString& text);
        QString ToString() const;
    };

    enum class State
    {
        Idle,    // nothing on the wire, takes characters
        Sending, // a character on the wire, takes characters while the FIFO has room
        Stopped  // output stopped: takes nothing, drains what it holds
    };

    // A character that has left the wire.
    struct Character
    {
        quint8 byte = 0;
        int baud = 0; // the speed it was sent at
        qint64 startNs = 0;
        qint64 endNs = 0; // its last stop bit left the wire
    };

    void SetFrame(const Frame& frame) { m_frame = frame; }
    const Frame& GetFrame() const { return m_frame; }

    State GetState() const;
    // Output stopped (XOFF) or started again (XON) by flow control.
    void SetStopped(bool stopped) { m_stopped = stopped; }

    // How many characters it may take now: 0 when stopped or full.
    int Room() const;
    // Characters held: the one on the wire and those in the FIFO.
    int Held() const { return int(m_fifo.size()) + (m_onWire ? 1 : 0); }

    // A character from the driver at nowNs, the line at baud. With the wire
    // free it starts at once (never before the last one ended), else it waits
    // in the FIFO. The caller asks Room() first; without room it is refused.
    bool Take(quint8 byte, qint64 nowNs, int baud);

    // When the character on the wire will have left it; nullopt when idle.
    std::optional<qint64> NextEndNs() const;

    // The character on the wire if it has left by nowNs. The next one from the
    // FIFO starts the moment it ended, at baudNow, the speed in force now.
    std::optional<Character> Deliver(qint64 nowNs, int baudNow);

    // Wire time of one character of frame at baud, in nanoseconds.
    static qint64 CharacterNs(const Frame& frame, int baud);

private:
    void StartOnWire(quint8 byte, qint64 startNs, int baud);

    Frame m_frame;
    bool m_stopped = false;
    std::deque<quint8> m_fifo;
    bool m_onWire = false;
    Character m_wire;
    qint64 m_lastEndNs = 0;
};

} // namespace tapeway
