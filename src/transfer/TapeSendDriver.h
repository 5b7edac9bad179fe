// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FeedPosition.h"
#include "transfer/FeedSnapshotCopy.h"
#include "transfer/FeedStatus.h"
#include "transfer/SendDriver.h"
#include "transfer/TapeProfile.h"
#include "transfer/TapeSender.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <optional>

namespace tapeway {

class SerialPort;
class WireListener;

// The sending side of the tape protocol on the line. A feed reads its
// prepared snapshot (FeedSnapshot: the file as it was at Start, its text
// already checked) in blocks as the line takes them, so a program of
// gigabytes costs a few blocks of memory, and hashes what it hands to the
// sender on the way. TapeSender makes the wire bytes and follows the
// controller's XON/XOFF, and this driver
// hands them to the line a few at a time: never more than kAhead characters
// wait anywhere between this program and the far end's wire, so that after
// an XOFF has arrived only those still go out (and what the wire
// carries while this program reads the XOFF). "Sent" once the last
// character has left the wire.
//
// A hold has no time limit: a controller may hold the line for a program
// stop or a tool change as long as it likes; Cancel ends it.
class TapeSendDriver : public SendDriver
{
public:
    // Characters that may wait not yet on the wire, the UART's transmit
    // FIFO (16) included. At most 24 may reach the controller after its
    // XOFF has arrived; the rest of those is the time this program takes to
    // read the XOFF, the wire carrying on meanwhile.
    static constexpr qint64 kAhead = 20;

    TapeSendDriver(SerialPort& port, WireListener& listener);

    void SetProfile(const TapeProfile& profile) { m_profile = profile; }

    // Blocks read from the snapshot at a time.
    static constexpr qint64 kReadBytes = 64 * 1024;
    // How often the feed's status is told while nothing changes.
    static constexpr int kStatusEveryMs = 1000;

    bool ReadsFileAtStart() const override { return true; }
    bool Feed(const QByteArray& chunk) override;
    // A file held in memory (bytes given whole).
    void Begin(const QByteArray& file, int baud, const QByteArray& request) override;
    // A feed from a prepared snapshot: its lead (a restart's '%' and
    // preamble), then the snapshot from the restart point's offset on;
    // startBlock is the block it restarts at, when one was named. False with
    // the system's reason when the snapshot cannot be opened.
    bool BeginFeed(const FeedSnapshotResult& feed, std::optional<qint64> startBlock, int baud,
                   const QByteArray& request, QString* reason);
    void Stop() override;
    qint64 Sent() const override;

    // What was handed to the sender (lead included) and its SHA-256, once
    // the whole of it was read.
    qint64 FedBytes() const { return m_fedBytes; }
    QByteArray FedDigest() const;
    // Where the feed stands now.
    FeedStatus Status() const;

private:
    void Start(int baud, const QByteArray& request);
    // Hands over what the line can take now; "sent" once all has left.
    void Pump();
    // Gives the sender the snapshot's next block; false after a read error
    // (the file has then failed).
    bool ReadBlock();
    // Moves the position past the file's bytes taken since the last look.
    void Track();
    void Progress(bool force);
    void TellStatus();

    SerialPort& m_port;
    WireListener& m_listener;
    TapeProfile m_profile;
    std::optional<TapeSender> m_sender;
    bool m_draining = false;
    quint64 m_generation = 0; // guards the drain's callback against a later file
    QElapsedTimer m_clock;
    qint64 m_lastProgressMs = -1;
    QTimer m_pump; // tops the line up while it may send

    // A feed from a snapshot.
    QFile m_snapshot;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_fedBytes = 0;
    qint64 m_feedTotal = 0; // the lead's bytes and the snapshot's from the offset
    bool m_fedWhole = false;
    qint64 m_lines = 0;
    std::optional<FeedPosition> m_position;
    QByteArray m_untracked; // bytes handed to the sender the position has not passed
    qint64 m_tracked = 0;   // bytes of the source the position has passed
    QTimer m_statusTimer;
};

} // namespace tapeway
