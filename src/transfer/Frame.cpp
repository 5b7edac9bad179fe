// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/Frame.h"

namespace tapeway {

void PutBigEndian32(char* out, quint32 value)
{
    out[0] = char(value >> 24);
    out[1] = char(value >> 16);
    out[2] = char(value >> 8);
    out[3] = char(value);
}

quint32 GetBigEndian32(const char* in)
{
    return quint32(quint8(in[0])) << 24 | quint32(quint8(in[1])) << 16 |
           quint32(quint8(in[2])) << 8 | quint32(quint8(in[3]));
}

QByteArray FrameHeader::Encode() const
{
    QByteArray header(kHeaderSize, char(0));
    const int q = m_baud / 100;
    header[0] = kDC1;
    header[1] = char(q >> 8);
    header[2] = char(q);
    for (int i = 3; i <= 10; ++i)
        header[i] = char(m_fill);
    PutBigEndian32(header.data() + 11, m_length);
    const quint16 check = Check(header);
    header[15] = char(check >> 8);
    header[16] = char(check);
    return header;
}

quint16 FrameHeader::Check(QByteArrayView header)
{
    quint32 sum = 0;
    for (int i = 1; i <= 14 && i < header.size(); ++i)
        sum += quint8(header[i]);
    return quint16(sum);
}

std::optional<FrameHeader> FrameHeader::Decode(QByteArrayView bytes)
{
    if (bytes.size() < kHeaderSize || bytes[0] != kDC1)
        return std::nullopt;
    const quint16 carried = quint16(quint8(bytes[15]) << 8 | quint8(bytes[16]));
    if (Check(bytes) != carried)
        return std::nullopt;
    const int baud = (quint8(bytes[1]) * 256 + quint8(bytes[2])) * 100;
    return FrameHeader(baud, GetBigEndian32(bytes.data() + 11), quint8(bytes[3]));
}

quint32 DataChecksum(QByteArrayView data, quint32 start)
{
    quint32 sum = start;
    for (char c : data)
        sum += quint8(c);
    return sum;
}

int ExpectedPacketLength(int blockSize, int packetCounter, qint64 fileLength)
{
    if (packetCounter <= 0 || fileLength <= 0 || blockSize <= 0)
        return 10;
    const qint64 b = blockSize;
    const qint64 k = packetCounter;
    if (b * k < fileLength)
        return blockSize + 1;
    if (b * (k - 1) < fileLength)
        return int(fileLength - b * (k - 1) + 5);
    return 0;
}

bool IsLastPacket(int packetCounter, qint64 fileLength)
{
    return fileLength <= 0 || packetCounter < 0 || qint64(packetCounter) * 1024 >= fileLength;
}

QByteArray BuildDataPacket(QByteArrayView file, int packetCounter, int blockSize)
{
    const qint64 offset = qint64(packetCounter - 1) * blockSize;
    if (packetCounter < 1 || blockSize <= 0 || offset >= file.size())
        return {};
    const qint64 rest = file.size() - offset;
    const bool last = rest <= blockSize;
    const qint64 n = last ? rest : blockSize;
    QByteArray packet;
    packet.reserve(n + 1 + (last ? kChecksumSize : 0));
    packet.append(kDC1);
    packet.append(file.sliced(offset, n));
    if (last) {
        char sum[kChecksumSize];
        PutBigEndian32(sum, DataChecksum(file));
        packet.append(sum, kChecksumSize);
    }
    return packet;
}

} // namespace tapeway
