// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LinkSettings.h"
#include "transfer/FeedStatus.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>

namespace tapeway {

// What a wire driver tells the transfer session about the file it moves on
// the line, and the little it asks of it. The session implements it; a
// driver knows neither the host, nor the local file, nor the batch.
//
// A call that ends the file (WireReceived, WireSent, WireFailed) is the last
// thing a driver does in the step that made it: the session stops the driver
// from within it, and may start the next file.
class WireListener
{
public:
    // How a file ended on the wire: the outcome code (FileReport), the
    // message pair shown and reported, and what the message adds.
    struct Failure
    {
        Failure(const char* outcome_ = nullptr, int chineseId_ = 0, int englishId_ = 0,
                QString detail_ = {}, QByteArray arrived_ = {})
            : outcome(outcome_), chineseId(chineseId_), englishId(englishId_),
              detail(std::move(detail_)), arrived(std::move(arrived_))
        {
        }

        const char* outcome = nullptr;
        int chineseId = 0;
        int englishId = 0;
        QString detail;
        // A receive: what arrived, where the protocol keeps it (kept for
        // recovery when not empty).
        QByteArray arrived;
    };

    virtual ~WireListener() = default;

    // A string pair in the operator's language (for a failure's detail).
    virtual QString WireText(int chineseId, int englishId) const = 0;
    // The operator's frame for the line, read when the speed changes.
    virtual LinkSettings WireLink() const = 0;
    // done bytes of total have moved (a send: handed to the line; a
    // receive: arrived and checked as far as the protocol checks them).
    virtual void WireProgress(qint64 done, qint64 total) = 0;

    // Receive: the sender announced a file of length bytes. A refusal when
    // the file could not be kept (no room for it); the driver then ends
    // with it before it answers.
    virtual std::optional<Failure> CheckRoom(qint64 length) = 0;
    // Receive: the file's data comes at baud, length bytes of it.
    virtual void WireAnnounced(int baud, qint64 length) = 0;
    // Receive, where the length is not announced: lines and bytes arrived so far.
    virtual void WireArrived(qint64 lines, qint64 bytes) = 0;
    // Receive: the whole file arrived and passed the protocol's checks.
    virtual void WireReceived(const QByteArray& data) = 0;

    // Send: the file has left the line as the protocol counts it.
    virtual void WireSent() = 0;
    // Send of the tape protocol: where the feed stands, about every second
    // and when the controller holds or frees the line.
    virtual void WireFeedStatus(const FeedStatus& status) { Q_UNUSED(status); }

    // Either side: the file ended on the wire without completing.
    virtual void WireFailed(const Failure& failure) = 0;
};

} // namespace tapeway
