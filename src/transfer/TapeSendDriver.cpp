// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeSendDriver.h"

#include "serial/SerialPort.h"
#include "transfer/SessionMessages.h"
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
    m_statusTimer.setInterval(kStatusEveryMs);
    QObject::connect(&m_statusTimer, &QTimer::timeout, &m_statusTimer, [this] { TellStatus(); });
    m_clock.start();
}

void TapeSendDriver::Stop()
{
    ++m_generation;
    m_pump.stop();
    m_statusTimer.stop();
    m_sender.reset();
    m_draining = false;
    m_snapshot.close();
    m_position.reset();
    m_untracked.clear();
}

qint64 TapeSendDriver::Sent() const
{
    return m_sender ? m_sender->FileCharactersSent() : 0;
}

bool TapeSendDriver::Feed(const QByteArray& chunk)
{
    if (m_sender && !m_draining) {
        const TapeSender::State before = m_sender->CurrentState();
        m_sender->OnReceived(chunk, m_clock.elapsed());
        // An XON is answered now: the controller's buffer may be running low.
        Pump();
        if (m_position && m_sender && m_sender->CurrentState() != before)
            TellStatus();
    }
    return false;
}

void TapeSendDriver::Begin(const QByteArray& file, int baud, const QByteArray& request)
{
    Stop();
    m_sender.emplace(m_profile);
    m_sender->AddSource(file);
    m_sender->EndOfSource();
    m_fedBytes = file.size();
    m_feedTotal = file.size();
    m_hash.reset();
    m_hash.addData(file);
    m_fedWhole = true;
    Start(baud, request);
}

bool TapeSendDriver::BeginFeed(const FeedSnapshotResult& feed, std::optional<qint64> startBlock,
                               int baud, const QByteArray& request, QString* reason)
{
    Stop();
    m_snapshot.setFileName(feed.snapshotPath);
    const qint64 offset = feed.restart ? feed.restart->offset : 0;
    if (!m_snapshot.open(QIODevice::ReadOnly) || !m_snapshot.seek(offset)) {
        *reason = QStringLiteral("%1: %2").arg(feed.snapshotPath, m_snapshot.errorString());
        m_snapshot.close();
        return false;
    }
    m_sender.emplace(m_profile);
    m_hash.reset();
    m_fedBytes = 0;
    m_fedWhole = false;
    m_lines = feed.lines;
    m_tracked = 0;
    m_untracked.clear();
    const QByteArray lead = feed.restart ? feed.lead : QByteArray();
    m_feedTotal = lead.size() + feed.bytes - offset;
    m_position.emplace(feed.restart ? feed.restart->line : 1, lead.size(), startBlock);
    if (!lead.isEmpty()) {
        m_sender->AddSource(lead);
        m_hash.addData(lead);
        m_fedBytes = lead.size();
        m_untracked = lead;
    }
    Start(baud, request);
    m_statusTimer.start();
    TellStatus();
    return true;
}

QByteArray TapeSendDriver::FedDigest() const
{
    return m_fedWhole ? m_hash.result() : QByteArray();
}

void TapeSendDriver::Start(int baud, const QByteArray& request)
{
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
    if (m_sender->CurrentState() == TapeSender::State::SourceStarved && !ReadBlock())
        return;
    const TapeSender::State state = m_sender->CurrentState();
    if (state == TapeSender::State::Sending) {
        const qint64 room = kAhead - m_port.BytesNotOnWire();
        // Bytes that arrived are read first: one may be the XOFF.
        if (room > 0 && !m_port.InputWaiting()) {
            const QByteArray bytes = m_sender->Take(room);
            if (!bytes.isEmpty()) {
                m_port.SetOutput(bytes);
                Track();
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

bool TapeSendDriver::ReadBlock()
{
    if (!m_snapshot.isOpen()) {
        m_sender->EndOfSource();
        return true;
    }
    const QByteArray block = m_snapshot.read(kReadBytes);
    if (block.isEmpty()) {
        if (m_snapshot.error() != QFileDevice::NoError) {
            const QString detail =
                QStringLiteral("%1: %2").arg(m_snapshot.fileName(), m_snapshot.errorString());
            WireListener& listener = m_listener;
            Stop();
            listener.WireFailed({FileReport::kFileError, messages::kCannotReadWholeZh,
                                 messages::kCannotReadWholeEn, detail});
            return false;
        }
        m_snapshot.close();
        m_fedWhole = true;
        m_sender->EndOfSource();
        return true;
    }
    m_hash.addData(block);
    m_fedBytes += block.size();
    m_sender->AddSource(block);
    m_untracked += block;
    return true;
}

void TapeSendDriver::Track()
{
    if (!m_position)
        return;
    const qint64 passed = m_sender->FileCharactersSent() - m_tracked;
    if (passed <= 0)
        return;
    const qsizetype n = qsizetype(qMin<qint64>(passed, m_untracked.size()));
    m_position->Add(QByteArrayView(m_untracked).first(n));
    m_untracked.remove(0, n);
    m_tracked += n;
}

FeedStatus TapeSendDriver::Status() const
{
    FeedStatus status;
    if (m_position) {
        status.line = m_position->Line();
        status.block = m_position->Block();
    }
    status.lines = m_lines;
    status.total = m_feedTotal;
    if (m_sender) {
        status.sent = m_sender->FileCharactersSent();
        status.held = m_sender->IsHeld();
        status.waitingForXon = m_sender->CurrentState() == TapeSender::State::WaitingForXon;
        status.msSinceFlowChange = m_sender->MsSinceFlowChange(m_clock.elapsed());
    }
    return status;
}

void TapeSendDriver::TellStatus()
{
    if (!m_position || !m_sender)
        return;
    m_listener.WireFeedStatus(Status());
}

void TapeSendDriver::Progress(bool force)
{
    const qint64 now = m_clock.elapsed();
    if (!force && m_lastProgressMs >= 0 && now - m_lastProgressMs < kProgressEveryMs)
        return;
    m_lastProgressMs = now;
    m_listener.WireProgress(m_sender->FileCharactersSent(), m_feedTotal);
}

} // namespace tapeway
