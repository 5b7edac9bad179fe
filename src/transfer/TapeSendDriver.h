// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/SendDriver.h"
#include "transfer/TapeProfile.h"
#include "transfer/TapeSender.h"

#include <QElapsedTimer>
#include <QTimer>
#include <optional>

namespace tapeway {

class SerialPort;
class WireListener;

// The sending side of the tape protocol on the line. The file is needed at
// Start (its text is checked before the line is touched); TapeSender makes
// the wire bytes and follows the controller's XON/XOFF, and this driver
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

    bool ReadsFileAtStart() const override { return true; }
    bool Feed(const QByteArray& chunk) override;
    void Begin(const QByteArray& file, int baud, const QByteArray& request) override;
    void Stop() override;
    qint64 Sent() const override;

private:
    // Hands over what the line can take now; "sent" once all has left.
    void Pump();
    void Progress(bool force);

    SerialPort& m_port;
    WireListener& m_listener;
    TapeProfile m_profile;
    std::optional<TapeSender> m_sender;
    bool m_draining = false;
    quint64 m_generation = 0; // guards the drain's callback against a later file
    QElapsedTimer m_clock;
    qint64 m_lastProgressMs = -1;
    QTimer m_pump; // tops the line up while it may send
};

} // namespace tapeway
