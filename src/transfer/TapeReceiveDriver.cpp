// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeReceiveDriver.h"

#include "serial/SerialPort.h"
#include "transfer/FileReport.h"
#include "transfer/Frame.h"
#include "transfer/SessionMessages.h"
#include "transfer/TapeLine.h"
#include "transfer/WireListener.h"

namespace tapeway {

namespace {

using namespace messages;

constexpr int kPollMs = 100;
constexpr qint64 kProgressEveryMs = 200;

} // namespace

TapeReceiveDriver::TapeReceiveDriver(SerialPort& port, WireListener& listener)
    : m_port(port), m_listener(listener)
{
    m_poll.setInterval(kPollMs);
    QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
        if (!m_receiver)
            return;
        m_receiver->Poll(m_clock.elapsed());
        Judge();
    });
    m_clock.start();
}

void TapeReceiveDriver::Start()
{
    Stop();
    m_receiver.emplace(m_profile);
    // Marks are read only where the line makes them.
    m_receiver->SetParityMarks(m_port.MarksParityErrors());
    m_lastProgressMs = -1;
    m_announced = false;
    m_poll.start();
}

void TapeReceiveDriver::Stop()
{
    m_poll.stop();
    m_receiver.reset();
}

qint64 TapeReceiveDriver::Received() const
{
    return m_receiver ? m_receiver->BytesReceived() : 0;
}

QByteArray TapeReceiveDriver::Arrived() const
{
    return m_receiver ? m_receiver->Text() : QByteArray();
}

bool TapeReceiveDriver::IsRequestForFile(const QByteArray& chunk) const
{
    return m_receiver && m_receiver->CurrentState() == TapeReceiver::State::WaitingForData &&
           chunk.contains(kDC1);
}

void TapeReceiveDriver::Feed(const QByteArray& chunk)
{
    if (!m_receiver)
        return;
    m_receiver->Feed(chunk, m_clock.elapsed());
    Judge();
}

void TapeReceiveDriver::Judge()
{
    const TapeReceiver::State state = m_receiver->CurrentState();
    if (state == TapeReceiver::State::WaitingForData)
        return;
    if (!m_announced) {
        // The speed is the line's own; the length is not known before the end.
        m_announced = true;
        m_listener.WireAnnounced(m_port.CurrentBaud(), 0);
    }
    if (state == TapeReceiver::State::Complete) {
        m_poll.stop();
        m_listener.WireArrived(m_receiver->LinesReceived(), m_receiver->BytesReceived());
        m_listener.WireReceived(m_receiver->TakeText());
        return;
    }
    if (state == TapeReceiver::State::Failed) {
        m_poll.stop();
        m_listener.WireFailed(FailureOf());
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (m_lastProgressMs < 0 || now - m_lastProgressMs >= kProgressEveryMs) {
        m_lastProgressMs = now;
        m_listener.WireArrived(m_receiver->LinesReceived(), m_receiver->BytesReceived());
    }
}

WireListener::Failure TapeReceiveDriver::FailureOf() const
{
    const TextPosition at = m_receiver->FailurePosition();
    const QString line = QString::number(at.line), column = QString::number(at.column);
    const QString code = CodeName(m_profile.code);
    WireListener::Failure failure{FileReport::kDataError, kReceiveErrorZh, kReceiveErrorEn, {}};
    switch (m_receiver->FailureKind()) {
    case TapeReceiver::Failure::None:
    case TapeReceiver::Failure::Parity:
        failure.detail = m_listener.WireText(kParityZh, kParityEn).arg(line, column);
        break;
    case TapeReceiver::Failure::Break:
        failure = {FileReport::kLinkBroken, kLinkBrokenZh, kLinkBrokenEn,
                   m_listener.WireText(kBreakZh, kBreakEn).arg(line, column)};
        break;
    case TapeReceiver::Failure::UnknownCode:
        failure.detail =
            m_listener.WireText(kUnknownCodeZh, kUnknownCodeEn).arg(line, column, code);
        break;
    case TapeReceiver::Failure::EvenHoles:
        failure.detail = m_listener.WireText(kEvenHolesZh, kEvenHolesEn).arg(line, column);
        break;
    case TapeReceiver::Failure::TvCheck:
        failure.detail = m_listener.WireText(kTvCheckZh, kTvCheckEn).arg(line, column);
        break;
    case TapeReceiver::Failure::Silence:
        failure = {FileReport::kLinkBroken, kLinkBrokenZh, kLinkBrokenEn,
                   m_listener.WireText(kSilenceZh, kSilenceEn)
                       .arg(line, column, QString::number(m_profile.idleSeconds))};
        break;
    }
    failure.arrived = m_receiver->Text();
    return failure;
}

} // namespace tapeway
