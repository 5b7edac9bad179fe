// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/PacketTimings.h"
#include "transfer/SendDriver.h"
#include "transfer/SendProtocol.h"

#include <QTimer>
#include <optional>

namespace tapeway {

class SerialPort;
class WireListener;

// The sending side of the packet protocol on the line: the file wanted at
// the receiver's first DC2, the answers SendProtocol gives handed to the
// line, the speed change at DC4, the silence that breaks an agreed link, and
// "sent" at the receiver's DC2 after the last packet (or, without it, once
// that packet's wire time and a grace period have passed).
class PacketSendDriver : public SendDriver
{
public:
    PacketSendDriver(SerialPort& port, WireListener& listener);

    void SetTimings(const PacketTimings& timings) { m_timings = timings; }

    bool Feed(const QByteArray& chunk) override;
    void Begin(const QByteArray& file, int baud, const QByteArray& request) override;
    void Stop() override;
    qint64 Sent() const override;

private:
    void Answer(const QByteArray& chunk);
    void FinishSend(); // the file counts as sent
    void Fail(const char* outcome, int chineseId, int englishId);

    SerialPort& m_port;
    WireListener& m_listener;
    PacketTimings m_timings;

    std::optional<SendProtocol> m_protocol; // once the file has been read
    bool m_awaitingAcknowledge = false;     // the last packet left; the receiver's DC2 is due

    QTimer m_watchdog;         // silence on an agreed link
    QTimer m_acknowledgeTimer; // how long the last packet's DC2 is waited for
};

} // namespace tapeway
