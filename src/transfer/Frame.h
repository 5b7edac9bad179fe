// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <optional>

namespace tapeway {

// Line control bytes.
constexpr char kDC1 = 0x11; // sender: first byte of the header and of every data packet
constexpr char kDC2 = 0x12; // receiver: send the header, or the next data packet
constexpr char kDC3 = 0x13; // receiver: header accepted at the new speed, send packet 1
constexpr char kDC4 = 0x14; // receiver: header intact, switch to the announced speed

constexpr int kHeaderSize = 17;
constexpr int kBlockSize = 1024;
constexpr int kChecksumSize = 4;
constexpr qint64 kMaxFileLength = 0x7fffffff; // the header carries a signed 32-bit length

// The 17-byte header: DC1, speed / 100 (16 bits), eight reserved bytes, file
// length (32 bits) and the 16-bit sum of bytes 1 to 14, all big-endian.
class FrameHeader
{
public:
    FrameHeader() = default;
    FrameHeader(int baud, quint32 length, quint8 fill = 0)
        : m_baud(baud), m_length(length), m_fill(fill)
    {
    }

    int Baud() const { return m_baud; }
    quint32 Length() const { return m_length; }
    quint8 Fill() const { return m_fill; }

    QByteArray Encode() const;

    // Reads a complete header; nothing when the start byte or the check is wrong.
    static std::optional<FrameHeader> Decode(QByteArrayView bytes);

    // The sum of bytes 1 to 14 taken as unsigned values, cut to 16 bits.
    static quint16 Check(QByteArrayView header);

    bool operator==(const FrameHeader&) const = default;

private:
    int m_baud = 0;
    quint32 m_length = 0;
    quint8 m_fill = 0;
};

// The data checksum: all bytes as unsigned values, modulo 2^32.
quint32 DataChecksum(QByteArrayView data, quint32 start = 0);

// Bytes, start byte included, that the receiver collects for packet k of a file
// of length L cut into blocks of b bytes: b + 1 for a full packet, the rest + 5
// for the last one (it carries the checksum), 0 when nothing more is due, and
// 10 for arguments out of range.
int ExpectedPacketLength(int blockSize, int packetCounter, qint64 fileLength);

// Whether packet k is the one whose bytes end the file (the factor is always 1024).
bool IsLastPacket(int packetCounter, qint64 fileLength);

// Data packet k (1 for the first) of the file: DC1, its bytes, and for the last
// one the checksum of the whole file. Empty when k is past the end.
QByteArray BuildDataPacket(QByteArrayView file, int packetCounter, int blockSize = kBlockSize);

// Writes a 32-bit big-endian number.
void PutBigEndian32(char* out, quint32 value);
quint32 GetBigEndian32(const char* in);

} // namespace tapeway
