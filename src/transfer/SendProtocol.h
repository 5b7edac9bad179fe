// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/Frame.h"

#include <QByteArray>
#include <QByteArrayView>

namespace tapeway {

// The sending side of the line protocol, without a port, a file or a widget.
// The sender only answers: DC2 asks for the header, DC4 switches the speed,
// DC3 asks for packet 1 and every further DC2 for the next packet.
class SendProtocol
{
public:
    struct Step
    {
        QByteArray output;        // the frame to hand to the line (empty: nothing)
        bool switchSpeed = false; // change the line to Baud() now
        bool dataSent = false;    // a data packet left: show DataOffset()
        bool complete = false;    // the last packet has been handed to the line
    };

    SendProtocol(QByteArray file, int baud);

    Step Feed(QByteArrayView chunk);

    int Baud() const { return m_baud; }
    const QByteArray& File() const { return m_file; }
    qint64 TotalLength() const { return m_file.size(); }
    qint64 DataOffset() const { return m_dataOffset; }
    int PacketCounter() const { return m_packetCounter; }
    bool HeaderSent() const { return m_packetCounter >= 1; }
    bool IsComplete() const { return m_complete; }

private:
    QByteArray NextDataPacket();

    QByteArray m_file;
    int m_baud;
    qint64 m_dataOffset = 0;
    int m_packetCounter = 0;
    bool m_complete = false;
};

} // namespace tapeway
