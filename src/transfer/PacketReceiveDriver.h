// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/PacketTimings.h"
#include "transfer/ReceiveDriver.h"
#include "transfer/ReceiveProtocol.h"

#include <QTimer>
#include <optional>

namespace tapeway {

class SerialPort;
class WireListener;

// The receiving side of the packet protocol on the line: DC2 every second
// until the header starts, the header's speed agreed with DC4 (the line
// changes speed once DC4 has left it), DC3 until packet 1 starts, DC2 after
// every packet, and the silence that breaks an agreed link. ReceiveProtocol
// judges the bytes; this class does what it says with the port and timers.
class PacketReceiveDriver : public ReceiveDriver
{
public:
    PacketReceiveDriver(SerialPort& port, WireListener& listener);

    void SetTimings(const PacketTimings& timings) { m_timings = timings; }

    void Start() override;
    // The controller's DC2 while no header has begun: it wants to read.
    bool IsRequestForFile(const QByteArray& chunk) const override;
    void Feed(const QByteArray& chunk) override;
    void Stop() override;
    qint64 Received() const override;

private:
    // The header is intact: refuse it (a speed the line cannot take, no room
    // for the file) or agree with DC4 and change the speed once it has left.
    void AcceptHeader();
    void Fail(const char* outcome, int chineseId, int englishId, const QString& detail = {});

    SerialPort& m_port;
    WireListener& m_listener;
    PacketTimings m_timings;

    std::optional<ReceiveProtocol> m_protocol; // while a file runs
    bool m_switchingSpeed = false;             // DC4 is leaving the line before the speed changes
    quint64 m_generation = 0; // guards the callback of a drain against a later file

    QTimer m_headerTimer; // DC2 every second until the header starts
    QTimer m_readyTimer;  // DC3 every 100 ms until packet 1 starts
    QTimer m_watchdog;    // silence on an agreed link
};

} // namespace tapeway
