// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/PacketReceiveDriver.h"

#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "transfer/FileReport.h"
#include "transfer/SessionMessages.h"
#include "transfer/WireListener.h"

namespace tapeway {

namespace {

using namespace messages;

} // namespace

PacketReceiveDriver::PacketReceiveDriver(SerialPort& port, WireListener& listener)
    : m_port(port), m_listener(listener)
{
    QObject::connect(&m_headerTimer, &QTimer::timeout, &m_headerTimer,
                     [this] { SendControlByte(m_port, kDC2); });
    QObject::connect(&m_readyTimer, &QTimer::timeout, &m_readyTimer,
                     [this] { SendControlByte(m_port, kDC3); });
    m_watchdog.setSingleShot(true);
    QObject::connect(&m_watchdog, &QTimer::timeout, &m_watchdog, [this] {
        if (m_protocol)
            Fail(FileReport::kLinkBroken, kLinkBrokenZh, kLinkBrokenEn);
    });
}

void PacketReceiveDriver::Start()
{
    Stop();
    m_protocol.emplace();
    m_headerTimer.start(m_timings.headerRequestMs);
}

void PacketReceiveDriver::Stop()
{
    ++m_generation;
    m_headerTimer.stop();
    m_readyTimer.stop();
    m_watchdog.stop();
    m_protocol.reset();
    m_switchingSpeed = false;
}

qint64 PacketReceiveDriver::Received() const
{
    return m_protocol ? m_protocol->DataOffset() : 0;
}

bool PacketReceiveDriver::IsRequestForFile(const QByteArray& chunk) const
{
    if (m_switchingSpeed || !m_protocol ||
        m_protocol->GetState() != ReceiveProtocol::State::WaitingForHeader)
        return false;
    const qsizetype request = chunk.indexOf(kDC2);
    const qsizetype header = chunk.indexOf(kDC1);
    return request >= 0 && (header < 0 || request < header);
}

void PacketReceiveDriver::Feed(const QByteArray& chunk)
{
    if (m_switchingSpeed || !m_protocol)
        return; // nothing is due while DC4 is still leaving the line
    const ReceiveProtocol::Step step = m_protocol->Feed(chunk);
    // DC3 is asked again until a packet's DC1 comes; noise does not stop it.
    if (m_protocol->GetState() != ReceiveProtocol::State::WaitingForData)
        m_readyTimer.stop();
    if (step.headerStarted)
        m_headerTimer.stop();
    // From the header's first byte on, the link counts as broken when the
    // protocol takes no byte for a while; noise between packets (bytes of a
    // wrong speed, say) does not keep it alive.
    const ReceiveProtocol::State state = m_protocol->GetState();
    if (step.headerStarted || step.packetDone ||
        state == ReceiveProtocol::State::CollectingHeader ||
        state == ReceiveProtocol::State::CollectingPacket)
        m_watchdog.start(m_timings.SilenceLimitMs(m_port.CurrentBaud()));
    if (step.failure == ReceiveProtocol::Failure::HeaderCheck ||
        step.failure == ReceiveProtocol::Failure::BadHeader) {
        Fail(FileReport::kDataError, kReceiveErrorZh, kReceiveErrorEn);
        return;
    }
    if (step.headerAccepted) {
        AcceptHeader();
        return;
    }
    if (step.packetDone) {
        m_listener.WireProgress(m_protocol->DataOffset(), m_protocol->TotalLength());
        m_port.SetInBufferCount(0);
        m_port.SetOutBufferCount(0);
        SendControlByte(m_port, kDC2);
    }
    if (step.failure == ReceiveProtocol::Failure::DataChecksum)
        Fail(FileReport::kDataError, kReceiveErrorZh, kReceiveErrorEn);
    else if (step.finished)
        m_listener.WireReceived(m_protocol->Data());
}

void PacketReceiveDriver::AcceptHeader()
{
    const int baud = m_protocol->Baud();
    if (!m_port.CanSetBaud(baud)) {
        // Refused before DC4; a line whose speed is fixed says so.
        const QString announced = m_listener.WireText(kAnnouncedZh, kAnnouncedEn).arg(baud);
        if (m_port.FixedBaud() > 0)
            Fail(FileReport::kPortError, kFixedSpeedZh, kFixedSpeedEn, announced);
        else
            Fail(FileReport::kDataError, kReceiveErrorZh, kReceiveErrorEn, announced);
        return;
    }
    // A volume without room for the file is known now, before DC4.
    if (const auto refusal = m_listener.CheckRoom(m_protocol->TotalLength())) {
        m_listener.WireFailed(*refusal);
        return;
    }
    SendControlByte(m_port, kDC4);
    m_listener.WireAnnounced(baud, m_protocol->TotalLength());
    m_port.SetInBufferCount(0);
    m_watchdog.start(m_timings.SilenceLimitMs(m_port.CurrentBaud()));
    // The speed changes only once DC4 has left the line at the old speed.
    m_switchingSpeed = true;
    const quint64 generation = m_generation;
    m_port.Drain([this, generation, baud] {
        if (generation != m_generation || !m_protocol)
            return;
        m_switchingSpeed = false;
        if (!ApplyBaudRate(m_port, baud, m_listener.WireLink())) {
            Fail(FileReport::kPortError, kReceiveErrorZh, kReceiveErrorEn);
            return;
        }
        m_port.SetInBufferCount(0);
        m_readyTimer.start(m_timings.readyRequestMs);
    });
}

void PacketReceiveDriver::Fail(const char* outcome, int chineseId, int englishId,
                               const QString& detail)
{
    m_listener.WireFailed({outcome, chineseId, englishId, detail});
}

} // namespace tapeway
