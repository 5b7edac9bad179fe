// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/UartModel.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tapeway {

// Two pseudo-terminals joined like a null-modem cable: what is written to the
// one end (PortA) is read at the other (PortB) and back. For tests and for
// trying the program without a controller. POSIX only; elsewhere Start fails.
//
// A thread of its own copies the bytes; no event loop is needed. The modem
// keeps a descriptor of each end open itself, so an end can be closed and
// opened again without the modem losing it, and the terminal settings that
// a port made stay in force.
//
// Paced, each direction is a UART (UartModel): every byte takes the bits of
// its frame (8N1 unless set: ten) at the speed of the end that sends it, one
// after the other, through a transmit FIFO of 16 that takes bytes from the
// sending end only as the wire carries them; the rest waits unread in the
// kernel, as in a serial driver's buffer. An end whose program set IXON is
// stopped by the kernel on a DC3 it receives and started again by DC1 (or any
// byte with IXANY); the modem learns it through the pty's packet mode and its
// UART stops taking bytes, so at most the FIFO and the byte on the wire reach
// the far end after the XOFF. A pseudo-terminal forces 8 data bits without
// parity whatever a program sets, so the frame is given to the modem (SetFrame)
// rather than read from the end; the speed is read from the end.
//
// A byte whose sender changed speed while it was on the wire, or that reaches
// an end set to another speed, arrives garbled: it is delivered xor 0x5A (a
// wrong byte, never a lost one, so that tests see the count). Unpaced, bytes
// pass as soon as they are read.
class VirtualNullModem
{
public:
    enum Direction
    {
        AToB = 0,
        BToA = 1
    };

    // Called on the forwarding thread for every byte the sending end wrote,
    // numbered from 0 per direction. It may change the byte; false drops it.
    using Tap = std::function<bool(quint8& byte, qint64 index)>;

    static constexpr quint8 kGarbleMask = 0x5A;

    VirtualNullModem();
    ~VirtualNullModem();
    VirtualNullModem(const VirtualNullModem&) = delete;
    VirtualNullModem& operator=(const VirtualNullModem&) = delete;

    // Set before Start.
    void SetPaced(bool paced) { m_paced = paced; }
    bool IsPaced() const { return m_paced; }
    // The frame of the bytes the end sends in direction, for their wire time
    // when paced, and for the data bits that make a byte DC1 or DC3. Set
    // before Start; 8N1 unless set.
    void SetFrame(Direction direction, const UartModel::Frame& frame)
    {
        m_frames[direction] = frame;
    }
    UartModel::Frame FrameOf(Direction direction) const { return m_frames[direction]; }

    // May be set at any time; an empty function removes the tap.
    void SetTap(Direction direction, Tap tap);

    // Creates the two ends and starts copying. False, with LastError(), when
    // the pseudo-terminals cannot be made.
    bool Start();
    // Stops copying and closes both ends. Also done by the destructor.
    void Stop();
    // Pulls the cable out: both ends see a hang-up, like an unplugged USB
    // adapter. The modem stops; the end paths are gone afterwards.
    void HangUp();

    bool IsRunning() const { return m_thread.joinable() && !m_finished; }
    QString PortA() const { return m_sides[AToB].path; }
    QString PortB() const { return m_sides[BToA].path; }
    QString LastError() const { return m_lastError; }

    // Bytes delivered at the receiving end, garbled ones included.
    qint64 BytesForwarded(Direction direction) const { return m_forwarded[direction]; }
    // Delivered bytes that a speed mismatch garbled.
    qint64 BytesGarbled(Direction direction) const { return m_garbled[direction]; }
    // Bytes the tap dropped, or that the receiving end had no room for.
    qint64 BytesDropped(Direction direction) const { return m_dropped[direction]; }

    // Bytes delivered in direction since the last DC3 delivered the other
    // way, while no DC1 has followed it: what the end that said XOFF got after
    // it. 0 while no XOFF holds.
    qint64 CharactersAfterXoff(Direction direction) const { return m_afterXoff[direction]; }
    // The most CharactersAfterXoff reached since Start.
    qint64 MostCharactersAfterXoff(Direction direction) const { return m_mostAfterXoff[direction]; }
    // The longest time, in microseconds, from a DC1 handed to the end that
    // sends in direction until that end wrote again: how fast it answers an
    // XON (0 before any answer).
    qint64 MostXonAnswerUs(Direction direction) const { return m_mostXonAnswerUs[direction]; }

    // The line speed an end is set to, in baud; 0 when unknown.
    int SpeedOf(Direction end) const;

private:
    struct Side
    {
        int master = -1;
        int keptSlave = -1; // never read; keeps the end alive and its settings
        QString path;
    };

    void Run();
    void CloseEnds();

    Side m_sides[2];
    int m_wakePipe[2] = {-1, -1};
    bool m_paced = false;
    UartModel::Frame m_frames[2];
    QString m_lastError;

    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_hangUpRequested{false};
    std::atomic<bool> m_finished{false};
    std::mutex m_mutex;
    std::condition_variable m_finishedChanged;
    Tap m_taps[2];

    std::atomic<qint64> m_forwarded[2] = {0, 0};
    std::atomic<qint64> m_garbled[2] = {0, 0};
    std::atomic<qint64> m_dropped[2] = {0, 0};
    std::atomic<qint64> m_afterXoff[2] = {0, 0};
    std::atomic<qint64> m_mostAfterXoff[2] = {0, 0};
    std::atomic<qint64> m_mostXonAnswerUs[2] = {0, 0};
};

} // namespace tapeway
