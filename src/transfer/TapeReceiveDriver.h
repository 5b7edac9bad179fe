// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/ReceiveDriver.h"
#include "transfer/TapeProfile.h"
#include "transfer/TapeReceiver.h"
#include "transfer/WireListener.h"

#include <QElapsedTimer>
#include <QTimer>
#include <optional>

namespace tapeway {

class SerialPort;

// The receiving side of the tape protocol on the line: it waits for the
// controller's punch as long as it is left waiting, TapeReceiver collects
// the program, and the file is complete at its closing '%' (or, by the
// idle end rule, once the line has been silent for the idle time). A parity
// error, a break, a byte no character of the code, a failed TV check, or
// silence before the program ended ends the file, with what arrived kept.
class TapeReceiveDriver : public ReceiveDriver
{
public:
    TapeReceiveDriver(SerialPort& port, WireListener& listener);

    void SetProfile(const TapeProfile& profile) { m_profile = profile; }

    void Start() override;
    // The controller's XON (its READ key) while nothing has arrived: it
    // wants to read.
    bool IsRequestForFile(const QByteArray& chunk) const override;
    void Feed(const QByteArray& chunk) override;
    void Stop() override;
    qint64 Received() const override;
    QByteArray Arrived() const override;

private:
    void Judge();
    // The reason of a failure, with its place in the program.
    WireListener::Failure FailureOf() const;

    SerialPort& m_port;
    WireListener& m_listener;
    TapeProfile m_profile;
    std::optional<TapeReceiver> m_receiver;
    QElapsedTimer m_clock;
    qint64 m_lastProgressMs = -1;
    bool m_announced = false;
    QTimer m_poll; // the idle time passes without bytes too
};

} // namespace tapeway
