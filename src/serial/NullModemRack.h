// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/UartModel.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace tapeway {

// Many paced null-modems on one thread, for benchmarks that put dozens of
// simulated machines on one computer. Each pair is two pseudo-terminals
// joined like VirtualNullModem's paced cable: every byte takes its frame's
// bits (8N1 unless set) at the speed of the end that sends it, through a
// UartModel per direction (a transmit FIFO of 16 that takes bytes from the
// sending end only as the wire carries them; an end stopped by the kernel's
// IXON takes nothing more); a byte whose sender changed speed while it was on
// the wire, or that reaches an end set to another speed, arrives xor
// VirtualNullModem::kGarbleMask. POSIX only; elsewhere Start fails.
//
// Unlike VirtualNullModem, which wakes for every byte, the rack's thread
// works in steps of kStepNs on the monotonic clock: each step delivers, for
// every pair, the bytes whose last stop bit has left the wire by then, hands
// them to the receiving ends and takes what the sending ends wrote meanwhile.
// Between steps it wakes only where a line starts or ends a burst (an end
// writes to an idle wire, or the last byte a UART holds leaves the wire) and
// when an end's flow state changes, so that a short exchange (a request and
// its answer) is not held a step at every turn. Bytes arrive no earlier than
// their wire time and at most a step late; a line stays full as long as the
// thread is never later than its FIFO's time (4.4 ms at 38400 baud 8N1).
// Bytes a receiving end has no room for wait;
// past 1 MiB the oldest are dropped and counted.
class NullModemRack
{
public:
    enum Direction
    {
        AToB = 0,
        BToA = 1
    };

    static constexpr qint64 kStepNs = 1000000;

    explicit NullModemRack(int pairs);
    ~NullModemRack();
    NullModemRack(const NullModemRack&) = delete;
    NullModemRack& operator=(const NullModemRack&) = delete;

    int PairCount() const { return int(m_pairs.size()); }
    // The frame of the bytes sent in direction on a pair. Set before Start.
    void SetFrame(int pair, Direction direction, const UartModel::Frame& frame);

    // Creates every pair's ends and starts the thread. False, with
    // LastError(), when the pseudo-terminals cannot be made.
    bool Start();
    // Stops the thread and closes every end. Also done by the destructor.
    void Stop();

    QString PortA(int pair) const;
    QString PortB(int pair) const;
    QString LastError() const { return m_lastError; }

    // Bytes delivered at the receiving end, garbled ones included.
    qint64 BytesForwarded(int pair, Direction direction) const;
    // Delivered bytes that a speed mismatch garbled.
    qint64 BytesGarbled(int pair, Direction direction) const;
    // Bytes dropped because the receiving end read nothing for too long.
    qint64 BytesDropped(int pair, Direction direction) const;
    // When the first and the last byte delivered in direction left the wire,
    // nanoseconds on CLOCK_MONOTONIC; -1 before the first.
    qint64 FirstArrivalNs(int pair, Direction direction) const;
    qint64 LastArrivalNs(int pair, Direction direction) const;
    // The line speed an end is set to, in baud; 0 when unknown.
    int SpeedOf(int pair, Direction end) const;

    // Steps taken since Start, and the latest any of them began after its
    // time, in microseconds: how well the computer kept up with the rack.
    qint64 Steps() const { return m_steps; }
    qint64 MostLateUs() const { return m_mostLateUs; }
    // The processor time the rack's thread has used, in seconds (0 when it
    // does not run).
    double CpuSeconds() const;

private:
    struct Pair;

    void Run();
    void CloseEnds();

    std::vector<std::unique_ptr<Pair>> m_pairs;
    QString m_lastError;
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<qint64> m_steps{0};
    std::atomic<qint64> m_mostLateUs{0};
};

} // namespace tapeway
