// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/SerialPort.h"
#include "transfer/Frame.h"

namespace tapeway {

// The packet protocol's waits, shared by its two drivers.
struct PacketTimings
{
    int headerRequestMs = 1000; // DC2 while waiting for the header
    int readyRequestMs = 100;   // DC3 after the header until data comes
    int watchdogMs = 10000;     // silence after the header that breaks the link

    // Silence that breaks an agreed link at baud: a slow line may need
    // longer than the silence limit for one packet, so at least twice a full
    // packet's wire time (DC1, a block and the checksum) more.
    int SilenceLimitMs(int baud) const
    {
        constexpr int kFullPacketBytes = 1 + kBlockSize + kChecksumSize;
        return watchdogMs + 2 * int(SerialPort::WireTimeMs(kFullPacketBytes, baud));
    }
};

} // namespace tapeway
