// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/ReceiveProtocol.h"

#include <algorithm>
#include <new>

namespace tapeway {

ReceiveProtocol::Step ReceiveProtocol::Feed(QByteArrayView chunk)
{
    Step step;
    switch (m_state) {
    case State::WaitingForHeader:
    case State::CollectingHeader:
        FeedHeader(chunk, step);
        break;
    case State::WaitingForData:
    case State::CollectingPacket:
        FeedPacket(chunk, step);
        break;
    case State::Finished:
    case State::Failed:
        break;
    }
    return step;
}

qsizetype ReceiveProtocol::FeedHeader(QByteArrayView chunk, Step& step)
{
    qsizetype i = 0;
    if (m_state == State::WaitingForHeader) {
        // Whatever comes before the header's DC1 is noise.
        while (i < chunk.size() && chunk[i] != kDC1)
            ++i;
        if (i == chunk.size())
            return i;
        m_state = State::CollectingHeader;
        step.headerStarted = true;
    }
    const qsizetype take = std::min<qsizetype>(kHeaderSize - m_header.size(), chunk.size() - i);
    m_header.append(chunk.sliced(i, take));
    i += take;
    if (m_header.size() == kHeaderSize)
        AcceptHeader(step);
    return i; // the rest of the chunk is dropped
}

void ReceiveProtocol::AcceptHeader(Step& step)
{
    const std::optional<FrameHeader> header = FrameHeader::Decode(m_header);
    if (!header) {
        Fail(step, Failure::HeaderCheck);
        return;
    }
    if (header->Length() == 0 || header->Length() > kMaxFileLength || header->Baud() <= 0) {
        Fail(step, Failure::BadHeader);
        return;
    }
    m_baud = header->Baud();
    m_fill = header->Fill();
    m_totalLength = header->Length();
    try {
        // Grows with the data; the whole file is never allocated up front on
        // the word of a header alone.
        m_data.reserve(std::min<qint64>(m_totalLength + kChecksumSize, 1 << 20));
    } catch (const std::bad_alloc&) {
        Fail(step, Failure::BadHeader);
        return;
    }
    m_packetCounter = 1;
    m_packetPosition = 0;
    m_runningSum = 0;
    m_expectedLength = ExpectedPacketLength(kBlockSize, 1, m_totalLength);
    m_state = State::WaitingForData;
    step.headerAccepted = true;
}

void ReceiveProtocol::FeedPacket(QByteArrayView chunk, Step& step)
{
    qsizetype i = 0;
    if (m_packetPosition == 0) {
        while (i < chunk.size() && chunk[i] != kDC1)
            ++i;
        if (i == chunk.size())
            return;
        ++i; // the DC1 itself is neither stored nor summed
        m_packetPosition = 1;
        m_state = State::CollectingPacket;
    }
    const bool last = IsLastPacket(m_packetCounter, m_totalLength);
    const int sumEnd = last ? m_expectedLength - kChecksumSize : m_expectedLength;
    const qsizetype take =
        std::min<qsizetype>(m_expectedLength - m_packetPosition, chunk.size() - i);
    const QByteArrayView bytes = chunk.sliced(i, take);
    // Positions below sumEnd are file data; the four after them the checksum.
    const qsizetype summed = std::clamp<qsizetype>(sumEnd - m_packetPosition, 0, take);
    m_runningSum = DataChecksum(bytes.first(summed), m_runningSum);
    try {
        m_data.append(bytes);
    } catch (const std::bad_alloc&) {
        Fail(step, Failure::BadHeader);
        return;
    }
    m_packetPosition += int(take);
    if (m_packetPosition == m_expectedLength)
        EndPacket(step);
}

void ReceiveProtocol::EndPacket(Step& step)
{
    const bool last = IsLastPacket(m_packetCounter, m_totalLength);
    m_dataOffset += last ? m_expectedLength - 5 : m_expectedLength - 1;
    ++m_packetCounter;
    m_packetPosition = 0;
    m_expectedLength = ExpectedPacketLength(kBlockSize, m_packetCounter, m_totalLength);
    m_state = State::WaitingForData;
    step.packetDone = true;
    if (m_dataOffset < m_totalLength)
        return;
    const quint32 carried = GetBigEndian32(m_data.constData() + m_totalLength);
    if (carried != m_runningSum) {
        Fail(step, Failure::DataChecksum);
        return;
    }
    m_state = State::Finished;
    step.finished = true;
}

void ReceiveProtocol::Fail(Step& step, Failure failure)
{
    m_state = State::Failed;
    step.failure = failure;
    m_data.clear();
}

} // namespace tapeway
