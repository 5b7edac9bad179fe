// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/SendProtocol.h"

namespace tapeway {

SendProtocol::SendProtocol(QByteArray file, int baud) : m_file(std::move(file)), m_baud(baud) {}

QByteArray SendProtocol::NextDataPacket()
{
    QByteArray packet = BuildDataPacket(m_file, m_packetCounter, kBlockSize);
    if (!packet.isEmpty()) {
        const bool last = m_dataOffset + kBlockSize >= m_file.size();
        m_dataOffset += packet.size() - 1 - (last ? kChecksumSize : 0);
        ++m_packetCounter;
    }
    return packet;
}

SendProtocol::Step SendProtocol::Feed(QByteArrayView chunk)
{
    Step step;
    if (m_complete)
        return step;
    if (m_packetCounter == 0) {
        if (chunk.contains(kDC2)) {
            step.output = FrameHeader(m_baud, quint32(m_file.size())).Encode();
            m_packetCounter = 1;
        }
        return step;
    }
    if (m_packetCounter == 1) {
        // Only the first DC4 or DC3 of the chunk counts; the receiver repeats
        // DC3 every 100 ms, so a DC3 behind a DC4 comes again.
        for (char c : chunk) {
            if (c == kDC4) {
                step.switchSpeed = true;
                break;
            }
            if (c == kDC3) {
                step.output = NextDataPacket();
                step.dataSent = true;
                break;
            }
        }
    } else if (chunk.contains(kDC2)) {
        step.output = NextDataPacket();
        step.dataSent = !step.output.isEmpty();
    }
    if (step.dataSent && m_dataOffset == m_file.size()) {
        m_complete = true;
        step.complete = true;
    }
    return step;
}

} // namespace tapeway
