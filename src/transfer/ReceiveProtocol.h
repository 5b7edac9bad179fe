// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/Frame.h"

#include <QByteArray>
#include <QByteArrayView>

namespace tapeway {

// The receiving side of the line protocol, without a port, a file or a widget.
// It is fed whatever arrived, in chunks of any size, and says what to do next.
class ReceiveProtocol
{
public:
    enum class State
    {
        WaitingForHeader, // asking for the header with DC2 every second
        CollectingHeader, // the header's DC1 arrived
        WaitingForData,   // header accepted: DC3 every 100 ms until bytes come
        CollectingPacket, // inside a data packet
        Finished,         // every byte arrived and the checksum matched
        Failed
    };

    enum class Failure
    {
        None,
        HeaderCheck,  // the header's 16-bit check does not match
        BadHeader,    // a length of 0 or above 2^31 - 1, speed 0, or no memory for the file
        DataChecksum, // the 32-bit sum of the data does not match
    };

    // What one chunk asks of the session. At most one packet ends per chunk:
    // bytes after the end of the header or of a packet are dropped.
    struct Step
    {
        bool headerStarted = false;  // stop asking for the header
        bool headerAccepted = false; // answer DC4, switch to Baud(), ask for packet 1 with DC3
        bool packetDone = false;     // clear both buffers, answer DC2, show DataOffset()
        bool finished = false;       // the file is complete and verified: Data()
        Failure failure = Failure::None;
    };

    Step Feed(QByteArrayView chunk);

    State GetState() const { return m_state; }
    int Baud() const { return m_baud; }
    quint8 HeaderFill() const { return m_fill; }
    qint64 TotalLength() const { return m_totalLength; }
    qint64 DataOffset() const { return m_dataOffset; }
    int PacketCounter() const { return m_packetCounter; }
    int ExpectedLength() const { return m_expectedLength; }

    // The received file, total length bytes; complete once finished.
    QByteArray Data() const { return m_data.left(m_totalLength); }

private:
    qsizetype FeedHeader(QByteArrayView chunk, Step& step);
    void FeedPacket(QByteArrayView chunk, Step& step);
    void AcceptHeader(Step& step);
    void EndPacket(Step& step);
    void Fail(Step& step, Failure failure);

    State m_state = State::WaitingForHeader;
    QByteArray m_header;
    QByteArray m_data; // file bytes, then the four checksum bytes of the last packet
    int m_baud = 0;
    quint8 m_fill = 0;
    qint64 m_totalLength = 0;
    qint64 m_dataOffset = 0;
    int m_packetCounter = 0;
    int m_packetPosition = 0;
    int m_expectedLength = 0;
    quint32 m_runningSum = 0;
};

} // namespace tapeway
