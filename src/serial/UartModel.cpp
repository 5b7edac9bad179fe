// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/UartModel.h"

#include <algorithm>

namespace tapeway {

namespace {

constexpr int kUnknownSpeedBaud = 9600;
constexpr qint64 kNsPerSecond = 1000000000;

struct ParityLetter
{
    char letter;
    UartModel::Frame::Parity parity;
};

constexpr ParityLetter kParityLetters[] = {
    {'N', UartModel::Frame::Parity::None},  {'E', UartModel::Frame::Parity::Even},
    {'O', UartModel::Frame::Parity::Odd},   {'M', UartModel::Frame::Parity::Mark},
    {'S', UartModel::Frame::Parity::Space},
};

} // namespace

std::optional<UartModel::Frame> UartModel::Frame::Parse(const QString& text)
{
    if (text.size() != 3)
        return std::nullopt;
    const char data = text[0].toLatin1();
    const char letter = text[1].toUpper().toLatin1();
    const char stop = text[2].toLatin1();
    if (data < '5' || data > '8' || (stop != '1' && stop != '2'))
        return std::nullopt;
    for (const ParityLetter& entry : kParityLetters) {
        if (entry.letter == letter)
            return Frame{data - '0', entry.parity, stop - '0'};
    }
    return std::nullopt;
}

QString UartModel::Frame::ToString() const
{
    char letter = 'N';
    for (const ParityLetter& entry : kParityLetters) {
        if (entry.parity == parity)
            letter = entry.letter;
    }
    return QStringLiteral("%1%2%3").arg(dataBits).arg(QLatin1Char(letter)).arg(stopBits);
}

qint64 UartModel::CharacterNs(const Frame& frame, int baud)
{
    const int rate = baud > 0 ? baud : kUnknownSpeedBaud;
    return frame.BitsPerCharacter() * kNsPerSecond / rate;
}

UartModel::State UartModel::GetState() const
{
    if (m_stopped)
        return State::Stopped;
    return m_onWire ? State::Sending : State::Idle;
}

int UartModel::Room() const
{
    if (m_stopped)
        return 0;
    return kFifoDepth + 1 - Held();
}

bool UartModel::Take(quint8 byte, qint64 nowNs, int baud)
{
    if (Room() <= 0)
        return false;
    if (m_onWire)
        m_fifo.push_back(byte);
    else
        StartOnWire(byte, std::max(nowNs, m_lastEndNs), baud);
    return true;
}

std::optional<qint64> UartModel::NextEndNs() const
{
    if (!m_onWire)
        return std::nullopt;
    return m_wire.endNs;
}

std::optional<UartModel::Character> UartModel::Deliver(qint64 nowNs, int baudNow)
{
    if (!m_onWire || m_wire.endNs > nowNs)
        return std::nullopt;
    const Character done = m_wire;
    m_onWire = false;
    m_lastEndNs = done.endNs;
    if (!m_fifo.empty()) {
        const quint8 next = m_fifo.front();
        m_fifo.pop_front();
        StartOnWire(next, done.endNs, baudNow);
    }
    return done;
}

void UartModel::StartOnWire(quint8 byte, qint64 startNs, int baud)
{
    m_onWire = true;
    m_wire = Character{byte, baud, startNs, startNs + CharacterNs(m_frame, baud)};
}

} // namespace tapeway
