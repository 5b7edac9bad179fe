// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeReaderModel.h"

#include "transfer/Frame.h"

#include <algorithm>

namespace tapeway {

namespace {

constexpr qint64 kUsPerSecond = 1000000;

} // namespace

int TapeReaderModel::Settings::DefaultXoffAt(int bufferSize)
{
    return bufferSize - std::min(32, bufferSize / 4);
}

int TapeReaderModel::Settings::DefaultXonAt(int xoffAt)
{
    return std::min(64, xoffAt / 2);
}

qint64 TapeReaderModel::Settings::CharacterUs(int baud, int bitsPerCharacter)
{
    if (baud <= 0)
        return 0;
    return (qint64(bitsPerCharacter) * kUsPerSecond + baud - 1) / baud;
}

bool TapeReaderModel::Settings::IsValid() const
{
    return bufferSize >= 1 && xonAt >= 0 && xonAt < xoffAt && xoffAt <= bufferSize &&
           charactersPerSecond >= 0 && holdAfter >= 0 && holdUs >= 0 && characterUs >= 0;
}

TapeReaderModel::TapeReaderModel(const Settings& settings) : m_settings(settings) {}

qint64 TapeReaderModel::TakeTimeUs(qint64 k) const
{
    const qint64 rate = m_settings.charactersPerSecond;
    return m_takeStartUs + ((m_taken + k) * kUsPerSecond + rate - 1) / rate;
}

void TapeReaderModel::Consume(qint64 nowUs)
{
    if (m_settings.charactersPerSecond <= 0)
        return;
    while (m_fill > 0 && TakeTimeUs(1) <= nowUs) {
        const qint64 takenUs = TakeTimeUs(1);
        --m_fill;
        ++m_taken;
        if (m_fill == 0)
            m_emptySinceUs = takenUs;
        if (m_fullStop && m_fill <= m_settings.xonAt)
            m_fullStop = false;
    }
}

QByteArray TapeReaderModel::Release()
{
    if (!m_lineHeld || WantsLineHeld())
        return {};
    m_lineHeld = false;
    return QByteArray(1, kDC1);
}

QByteArray TapeReaderModel::Advance(qint64 nowUs)
{
    Consume(nowUs);
    if (m_holding && nowUs >= m_holdEndUs)
        m_holding = false;
    return Release();
}

QByteArray TapeReaderModel::PressRead(qint64 nowUs)
{
    const QByteArray released = Advance(nowUs);
    if (!released.isEmpty() || m_lineHeld)
        return released;
    return QByteArray(1, kDC1);
}

QByteArray TapeReaderModel::Receive(qint64 count, qint64 nowUs)
{
    QByteArray out = Advance(nowUs);
    const bool consumesAtOnce = m_settings.charactersPerSecond <= 0;
    for (qint64 i = 0; i < count; ++i) {
        ++m_received;
        if (m_lineHeld && nowUs >= m_xoffGoneUs) {
            ++m_afterXoff;
            m_mostAfterXoff = std::max(m_mostAfterXoff, m_afterXoff);
        }
        if (consumesAtOnce) {
            // Taken the moment it came: the buffer stays empty.
        } else if (m_fill >= m_settings.bufferSize) {
            ++m_overruns;
        } else {
            if (m_fill == 0) {
                // A hold starts only with an arrival, so one that ends
                // after the buffer ran empty began before it.
                const qint64 wantedFromUs = std::max(m_emptySinceUs, m_holdEndUs);
                if (m_filled && nowUs > wantedFromUs) {
                    m_emptyUs += nowUs - wantedFromUs;
                    ++m_timesRanDry;
                }
                m_takeStartUs = nowUs;
                m_taken = 0;
            }
            if (++m_fill >= m_settings.xoffAt) {
                m_fullStop = true;
                m_filled = true;
            }
        }
        if (m_settings.holdAfter > 0 && m_received == m_settings.holdAfter) {
            m_holding = true;
            m_holdEndUs = nowUs + m_settings.holdUs;
        }
        if (m_settings.flowControl && !m_lineHeld && WantsLineHeld()) {
            out += kDC3;
            m_lineHeld = true;
            m_xoffGoneUs = nowUs + m_settings.characterUs;
            m_afterXoff = 0;
        }
    }
    return out;
}

std::optional<qint64> TapeReaderModel::NextChangeUs() const
{
    if (!m_lineHeld)
        return std::nullopt;
    qint64 due = 0;
    if (m_holding)
        due = std::max(due, m_holdEndUs);
    if (m_fullStop)
        due = std::max(due, TakeTimeUs(m_fill - m_settings.xonAt));
    return due;
}

} // namespace tapeway
