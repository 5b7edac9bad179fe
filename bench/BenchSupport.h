// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <functional>

// What the service benchmarks share: the programs the machines punch, the
// clocks and the packet line's efficiency.
namespace benchsupport {

// A part program of about size bytes.
QByteArray Program(int number, qint64 size);

// User and system CPU time of a process, in seconds, from /proc.
double CpuSeconds(qint64 pid);
// This process's user and system time, every thread's.
double OwnCpuSeconds();
// The calling thread's own user and system time.
double ThreadCpuSeconds();
// The monotonic clock.
double NowSeconds();

// Runs the event loop until the condition holds or the deadline passes
// (or timeoutMs from now); whether it holds.
bool RunUntil(const std::function<bool()>& condition, QDeadlineTimer deadline);
inline bool RunUntil(const std::function<bool()>& condition, int timeoutMs)
{
    return RunUntil(condition, QDeadlineTimer(timeoutMs));
}

// A process's peak resident memory (VmHWM) in KiB; -1 once it is gone.
qint64 PeakKib(qint64 pid);

// How many lines of the service's status file are in state.
int LinesIn(const QString& statusPath, const QString& state);

bool SameFile(const QString& a, const QString& b);

// A received packet file's share of the line: its bytes' time on the wire at
// the speed over the time the service took, measured from the accepted
// header, with the header's 17 bytes at 9600 baud put in front.
double PacketEfficiency(qint64 bytes, double seconds, int baud);

} // namespace benchsupport
