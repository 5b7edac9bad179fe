// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>
#include <vector>

// How late an event loop runs a 1 ms precise timer: every tick's gap from the
// one before, less the interval, kept so that the worst and a percentile can
// be told. Lives on the thread whose loop it measures.
class LoopLateness : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 1;

    explicit LoopLateness(QObject* parent = nullptr);

    void Start();
    void Stop();

    qint64 Ticks() const { return qint64(m_latenessUs.size()); }
    // Microseconds; 0 before any tick.
    qint64 WorstUs() const;
    // The lateness that share of the ticks (0.999: 99.9 %) did not pass.
    qint64 PercentileUs(double share) const;

private:
    void OnTick();

    QTimer m_timer;
    qint64 m_lastNs = 0;
    std::vector<qint64> m_latenessUs;
};
