// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace tapeway {

// The wire part of one received file, as a protocol drives it: what it asks
// of the sender, the bytes it takes, its own timers and speed changes. The
// transfer session opens the line, starts the driver, feeds it every chunk
// that arrives and hears from it through a WireListener; it keeps the
// target, the staging, the save and the reports. A driver lives as long as
// the session and moves one file from each Start to its end or Stop.
class ReceiveDriver
{
public:
    virtual ~ReceiveDriver() = default;

    // The line is open: wait for the sender (and ask it, where the protocol asks).
    virtual void Start() = 0;
    // Whether bytes that came before any of a file began say that the other
    // end wants to read instead (the session may answer them with a send).
    virtual bool IsRequestForFile(const QByteArray& chunk) const = 0;
    // Bytes from the line, in chunks of any size.
    virtual void Feed(const QByteArray& chunk) = 0;
    // Ends the file on the wire at once: timers stop, nothing more is sent,
    // the bytes collected are dropped. Harmless when nothing runs.
    virtual void Stop() = 0;
    // Bytes of the file that arrived so far (0 when none is running).
    virtual qint64 Received() const = 0;
    // What arrived of a file that has not completed, in the form it would
    // be saved in, where the protocol can keep it (empty otherwise): kept
    // for recovery when the file ends without completing.
    virtual QByteArray Arrived() const { return {}; }
};

} // namespace tapeway
