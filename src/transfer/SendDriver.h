// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace tapeway {

// The wire part of one sent file, as a protocol drives it: when it needs the
// file, what it hands to the line, its own timers and speed changes, and
// when the file counts as sent. The transfer session opens the line, feeds
// the driver every chunk that arrives, reads the file when the driver asks
// for it and hears from it through a WireListener; it keeps the batch, the
// rows and the reports. A driver lives as long as the session and moves one
// file from each Begin to its end or Stop.
class SendDriver
{
public:
    virtual ~SendDriver() = default;

    // Whether the file is wanted at Start, before the line is touched (and
    // handed over with Begin as soon as the line is open), rather than at
    // the receiver's request.
    virtual bool ReadsFileAtStart() const { return false; }
    // Bytes from the line. True when they ask for the file and none has been
    // given yet: the session reads it and hands it over with Begin, together
    // with these same bytes.
    virtual bool Feed(const QByteArray& chunk) = 0;
    // The file as read for this send, the speed of its data and the bytes
    // that asked for it (answered at once).
    virtual void Begin(const QByteArray& file, int baud, const QByteArray& request) = 0;
    // Ends the file on the wire at once: timers stop, nothing more is
    // handed to the line. Harmless when nothing runs.
    virtual void Stop() = 0;
    // Bytes of the file handed to the line so far (0 when none is running).
    virtual qint64 Sent() const = 0;
};

} // namespace tapeway
