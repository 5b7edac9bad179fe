// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeSendDriver.h"

#include "serial/SerialPort.h"
#include "transfer/WireListener.h"

#include <algorithm>

namespace tapeway {

namespace {

// How often the progress is told while characters go out.
constexpr qint64 kProgressEveryMs = 200;

} // namespace

TapeSendDriver::TapeSendDriver(SerialPort& port, WireListener& listener)
    : m_port(port), m_listener(listener)
{
    m_pump.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pump, &QTimer::timeout, &m_pump, [this] { Pump(); });
    m_clock.start();
}

void TapeSendDriver::Stop()
{
    ++m_generation;
    m_pump.stop();
    m_sender.reset();
    m_draining = false;
}

qint64 TapeSendDriver::Sent() const
{
    return m_sender ? m_sender->FileCharactersSent() : 0;
}

bool TapeSendDriver::Feed(const QByteArray& chunk)
{
    if (m_sender && !m_draining) {
        m_sender->OnReceived(chunk, m_clock.elapsed());
        Pump();
    }
    return false;
}

void TapeSendDriver::Begin(const QByteArray& file, int baud, const QByteArray& request)
{
    Stop();
    m_sender.emplace(m_profile);
    m_sender->AddSource(file);
    m_sender->EndOfSource();
    m_lastProgressMs = -1;
    // Topped up three times within the time the allowance lasts, so that
    // the wire never waits for this program while it may send.
    const qint64 lastsMs = SerialPort::WireTimeMs(kAhead, baud > 0 ? baud : m_port.CurrentBaud(),
                                                  m_port.CharacterBitTenths());
    m_pump.setInterval(int(std::clamp<qint64>(lastsMs / 3, 1, 20)));
    Progress(true);
    if (!request.isEmpty())
        m_sender->OnReceived(request, m_clock.elapsed());
    Pump();
}

void TapeSendDriver::Pump()
{
    if (!m_sender || m_draining)
        return;
    const TapeSender::State state = m_sender->CurrentState();
    if (state == TapeSender::State::Sending || state == TapeSender::State::SourceStarved) {
        const qint64 room = kAhead - m_port.BytesNotOnWire();
        // Bytes that arrived are read first: one may be the XOFF.
        if (room > 0 && !m_port.InputWaiting()) {
            const QByteArray bytes = m_sender->Take(room);
            if (!bytes.isEmpty()) {
                m_port.SetOutput(bytes);
                Progress(false);
            }
        }
    }
    switch (m_sender->CurrentState()) {
    case TapeSender::State::Done: {
        // "Sent" once the trailer, too, has left the wire.
        m_pump.stop();
        m_draining = true;
        Progress(true);
        const quint64 generation = m_generation;
        m_port.Drain([this, generation] {
            if (generation == m_generation && m_draining) {
                m_draining = false;
                m_listener.WireSent();
            }
        });
        return;
    }
    case TapeSender::State::Held:
    case TapeSender::State::WaitingForXon:
    case TapeSender::State::Refused:
        // Nothing to do until the controller speaks again.
        m_pump.stop();
        return;
    case TapeSender::State::Sending:
    case TapeSender::State::SourceStarved:
        if (!m_pump.isActive())
            m_pump.start();
        return;
    }
}

void TapeSendDriver::Progress(bool force)
{
    const qint64 now = m_clock.elapsed();
    if (!force && m_lastProgressMs >= 0 && now - m_lastProgressMs < kProgressEveryMs)
        return;
    m_lastProgressMs = now;
    m_listener.WireProgress(m_sender->FileCharactersSent(), m_sender->SourceBytes());
}

} // namespace tapeway
