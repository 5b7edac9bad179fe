// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ReceiveProtocolHarness.h"

#include "transfer/Frame.h"
#include "transfer/ReceiveProtocol.h"

#include <QByteArray>
#include <QList>
#include <algorithm>

using namespace tapeway;

namespace {

// The receiving side written the obvious way, for comparison: it keeps the
// payload of each packet apart and checks the sum only at the very end.
class ReceiveModel
{
public:
    enum class Phase
    {
        HuntHeader,
        Header,
        HuntPacket,
        Packet,
        Finished,
        Failed
    };

    void Feed(QByteArrayView chunk)
    {
        qsizetype i = 0;
        switch (m_phase) {
        case Phase::Finished:
        case Phase::Failed:
            return;
        case Phase::HuntHeader:
            while (i < chunk.size() && chunk[i] != kDC1)
                ++i;
            if (i == chunk.size())
                return;
            m_phase = Phase::Header;
            [[fallthrough]];
        case Phase::Header:
            while (i < chunk.size() && m_header.size() < kHeaderSize)
                m_header.append(chunk[i++]);
            if (m_header.size() == kHeaderSize)
                ReadHeader();
            return;
        case Phase::HuntPacket:
            while (i < chunk.size() && chunk[i] != kDC1)
                ++i;
            if (i == chunk.size())
                return;
            ++i;
            m_phase = Phase::Packet;
            [[fallthrough]];
        case Phase::Packet:
            while (i < chunk.size() && m_packet.size() < PayloadLength())
                m_packet.append(chunk[i++]);
            if (m_packet.size() == PayloadLength())
                EndPacket();
            return;
        }
    }

    Phase GetPhase() const { return m_phase; }
    qint64 Length() const { return m_length; }
    qint64 Offset() const { return m_file.size(); }
    const QByteArray& File() const { return m_file; }
    quint32 CarriedSum() const { return m_carriedSum; }

private:
    qint64 Rest() const { return m_length - m_file.size(); }
    bool Last() const { return Rest() <= kBlockSize; }
    qsizetype PayloadLength() const { return Last() ? Rest() + 4 : kBlockSize; }

    void ReadHeader()
    {
        const auto byte = [this](int i) { return quint32(quint8(m_header[i])); };
        quint32 sum = 0;
        for (int i = 1; i <= 14; ++i)
            sum += byte(i);
        const quint32 carried = byte(15) << 8 | byte(16);
        const quint32 speed = byte(1) << 8 | byte(2);
        m_length = qint64(byte(11) << 24 | byte(12) << 16 | byte(13) << 8 | byte(14));
        if ((sum & 0xffff) != carried || m_length == 0 || m_length > 0x7fffffff || speed == 0) {
            m_phase = Phase::Failed;
            return;
        }
        m_phase = Phase::HuntPacket;
    }

    void EndPacket()
    {
        if (!Last()) {
            m_file += m_packet;
            m_packet.clear();
            m_phase = Phase::HuntPacket;
            return;
        }
        const qsizetype rest = Rest();
        m_file += m_packet.first(rest);
        m_carriedSum = GetBigEndian32(m_packet.constData() + rest);
        m_packet.clear();
        quint32 sum = 0;
        for (char c : std::as_const(m_file))
            sum += quint8(c);
        m_phase = sum == m_carriedSum ? Phase::Finished : Phase::Failed;
    }

    Phase m_phase = Phase::HuntHeader;
    QByteArray m_header;
    QByteArray m_packet;
    QByteArray m_file;
    qint64 m_length = 0;
    quint32 m_carriedSum = 0;
};

// Chunk sizes from a small generator seeded by the input's first two bytes.
QList<qsizetype> ChunkSizes(quint16 seed, qsizetype total)
{
    static constexpr qsizetype kLargest[8] = {1, 2, 7, 17, 64, 1025, 1030, 4096};
    const qsizetype largest = kLargest[seed & 7];
    quint32 x = 0x9E3779B9u ^ seed;
    QList<qsizetype> sizes;
    for (qsizetype done = 0; done < total;) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const qsizetype size =
            std::min<qsizetype>(1 + qsizetype(x % quint32(largest)), total - done);
        sizes.append(size);
        done += size;
    }
    return sizes;
}

QString Describe(qsizetype chunkIndex, const QString& what)
{
    return QStringLiteral("chunk %1: %2").arg(chunkIndex).arg(what);
}

} // namespace

QString CheckReceiveStream(QByteArrayView input)
{
    if (input.size() < 2)
        return {};
    const quint16 seed = quint16(quint8(input[0]) | quint8(input[1]) << 8);
    const QByteArrayView stream = input.sliced(2);

    ReceiveProtocol machine;
    ReceiveModel model;
    qsizetype at = 0;
    const QList<qsizetype> sizes = ChunkSizes(seed, stream.size());
    for (qsizetype n = 0; n < sizes.size(); ++n) {
        const QByteArrayView chunk = stream.sliced(at, sizes[n]);
        at += sizes[n];
        const ReceiveProtocol::State before = machine.GetState();
        const qint64 offsetBefore = machine.DataOffset();
        const ReceiveProtocol::Step step = machine.Feed(chunk);
        model.Feed(chunk);

        const bool ended =
            before == ReceiveProtocol::State::Finished || before == ReceiveProtocol::State::Failed;
        if (ended && (step.headerStarted || step.headerAccepted || step.packetDone ||
                      step.finished || step.failure != ReceiveProtocol::Failure::None))
            return Describe(n, QStringLiteral("a step after the end"));
        if (machine.DataOffset() < offsetBefore)
            return Describe(n, QStringLiteral("progress went back"));
        if (machine.DataOffset() != offsetBefore && !step.packetDone)
            return Describe(n, QStringLiteral("progress moved without a packet"));
        if (machine.TotalLength() > 0 && machine.DataOffset() > machine.TotalLength())
            return Describe(n, QStringLiteral("progress %1 beyond the announced %2")
                                   .arg(machine.DataOffset())
                                   .arg(machine.TotalLength()));

        const bool finished = machine.GetState() == ReceiveProtocol::State::Finished;
        const bool failed = machine.GetState() == ReceiveProtocol::State::Failed;
        if (finished != (model.GetPhase() == ReceiveModel::Phase::Finished) ||
            failed != (model.GetPhase() == ReceiveModel::Phase::Failed))
            return Describe(n, QStringLiteral("state %1, the model says %2")
                                   .arg(int(machine.GetState()))
                                   .arg(int(model.GetPhase())));
        if (step.finished != (finished && !ended))
            return Describe(n, QStringLiteral("finished flag and state disagree"));
        if (!failed && machine.DataOffset() != model.Offset())
            return Describe(n, QStringLiteral("progress %1, the model has %2")
                                   .arg(machine.DataOffset())
                                   .arg(model.Offset()));
        if (finished) {
            const QByteArray data = machine.Data();
            if (data.size() != machine.TotalLength() || data.size() != model.Length())
                return Describe(n, QStringLiteral("finished with %1 bytes of %2")
                                       .arg(data.size())
                                       .arg(machine.TotalLength()));
            if (DataChecksum(data) != model.CarriedSum())
                return Describe(n, QStringLiteral("finished file does not match its checksum"));
            if (data != model.File())
                return Describe(n, QStringLiteral("finished file differs from the model's"));
        }
    }
    return {};
}
