// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/PacketSendDriver.h"

#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "transfer/FileReport.h"
#include "transfer/SessionMessages.h"
#include "transfer/WireListener.h"

namespace tapeway {

namespace {

using namespace messages;

// How long a sender waits for the receiver's DC2 after the last packet, on
// top of that packet's wire time.
constexpr int kAcknowledgeGraceMs = 2000;

} // namespace

PacketSendDriver::PacketSendDriver(SerialPort& port, WireListener& listener)
    : m_port(port), m_listener(listener)
{
    m_watchdog.setSingleShot(true);
    QObject::connect(&m_watchdog, &QTimer::timeout, &m_watchdog, [this] {
        if (m_protocol)
            Fail(FileReport::kLinkBroken, kLinkBrokenZh, kLinkBrokenEn);
    });
    m_acknowledgeTimer.setSingleShot(true);
    QObject::connect(&m_acknowledgeTimer, &QTimer::timeout, &m_acknowledgeTimer, [this] {
        // No acknowledgement came: the last packet has long left the line.
        if (m_protocol && m_awaitingAcknowledge)
            FinishSend();
    });
}

void PacketSendDriver::Stop()
{
    m_watchdog.stop();
    m_acknowledgeTimer.stop();
    m_protocol.reset();
    m_awaitingAcknowledge = false;
}

qint64 PacketSendDriver::Sent() const
{
    return m_protocol ? m_protocol->DataOffset() : 0;
}

bool PacketSendDriver::Feed(const QByteArray& chunk)
{
    m_port.SetInBufferCount(0);
    if (!m_protocol)
        return chunk.contains(kDC2); // the receiver's first request for the header
    Answer(chunk);
    return false;
}

void PacketSendDriver::Begin(const QByteArray& file, int baud, const QByteArray& request)
{
    Stop();
    m_protocol.emplace(file, baud);
    Answer(request);
}

void PacketSendDriver::Answer(const QByteArray& chunk)
{
    if (m_awaitingAcknowledge) {
        // The receiver's DC2 after the last packet acknowledges the file; only
        // a DC2 after it asks for the next file's header.
        if (chunk.contains(kDC2)) {
            m_acknowledgeTimer.stop();
            FinishSend();
        }
        return;
    }
    const SendProtocol::Step step = m_protocol->Feed(chunk);
    if (step.switchSpeed && !ApplyBaudRate(m_port, m_protocol->Baud(), m_listener.WireLink())) {
        Fail(FileReport::kPortError, kSendErrorZh, kSendErrorEn);
        return;
    }
    // Every answer of the protocol restarts the silence count; requests it
    // cannot use (bytes of a wrong speed, say) do not.
    if (!step.output.isEmpty() || step.switchSpeed)
        m_watchdog.start(m_timings.SilenceLimitMs(m_port.CurrentBaud()));
    if (!step.output.isEmpty())
        m_port.SetOutput(step.output);
    if (step.dataSent)
        m_listener.WireProgress(m_protocol->DataOffset(), m_protocol->TotalLength());
    if (step.complete) {
        // "Sent" once the receiver acknowledges the last packet with its
        // DC2, which comes at the data speed: the line stays at it until
        // then. Without an acknowledgement the file counts as sent once the
        // packet's wire time and a grace period have passed.
        m_awaitingAcknowledge = true;
        m_watchdog.stop();
        m_acknowledgeTimer.start(
            int(SerialPort::WireTimeMs(step.output.size(), m_protocol->Baud())) +
            kAcknowledgeGraceMs);
    }
}

void PacketSendDriver::FinishSend()
{
    m_awaitingAcknowledge = false;
    m_listener.WireSent();
}

void PacketSendDriver::Fail(const char* outcome, int chineseId, int englishId)
{
    m_listener.WireFailed({outcome, chineseId, englishId, {}});
}

} // namespace tapeway
