// SPDX-License-Identifier: GPL-3.0-or-later
#include "LoopLateness.h"

#include <algorithm>
#include <chrono>

namespace {

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

LoopLateness::LoopLateness(QObject* parent) : QObject(parent), m_timer(this)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LoopLateness::OnTick);
}

void LoopLateness::Start()
{
    m_lastNs = 0;
    m_latenessUs.clear();
    m_latenessUs.reserve(1 << 20);
    m_timer.start();
}

void LoopLateness::Stop()
{
    m_timer.stop();
}

qint64 LoopLateness::WorstUs() const
{
    return m_latenessUs.empty() ? 0 : *std::max_element(m_latenessUs.begin(), m_latenessUs.end());
}

qint64 LoopLateness::PercentileUs(double share) const
{
    if (m_latenessUs.empty())
        return 0;
    std::vector<qint64> sorted = m_latenessUs;
    const size_t index = std::min(sorted.size() - 1, size_t(share * double(sorted.size())));
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(index), sorted.end());
    return sorted[index];
}

void LoopLateness::OnTick()
{
    const qint64 now = NowNs();
    if (m_lastNs > 0)
        m_latenessUs.push_back(std::max<qint64>(0, (now - m_lastNs) / 1000 - kIntervalMs * 1000));
    m_lastNs = now;
}
