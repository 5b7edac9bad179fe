// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QString>

namespace tapeway {

// Progress of one file on stderr. On a terminal a live bar with percent,
// bytes, rate and time left, redrawn at most ten times a second; elsewhere
// (a pipe, a log) one line at every further tenth of the file. A file of
// unknown length (total 0: a tape receive) shows the lines and bytes so far
// and the rate instead, in a log every ten seconds. A tape send's feed
// status (block, line, XON or XOFF) follows the figures: live in place of
// the bar, in a log on each line and at least once a minute.
class ProgressReporter
{
public:
    enum class Style
    {
        Live,
        Lines,
        Silent
    };

    ProgressReporter();
    explicit ProgressReporter(Style style) : m_style(style) {}

    Style GetStyle() const { return m_style; }

    // A file of total bytes begins; label names it.
    void Begin(const QString& label, qint64 total);
    void Update(qint64 done);
    // A file without a total: lines and bytes that have arrived so far.
    void Arrived(qint64 lines, qint64 bytes);
    // A tape send: where the feed stands, in words (FeedStatusText).
    void Feed(const QString& text);
    // The file ended (or was given up): a live bar is cleared.
    void End();
    // A line of text for a person; a live bar is cleared first and comes back
    // with the next update.
    void Note(const QString& text);

    // "1.5 KiB", "12.0 MiB"; "812 B" below a KiB.
    static QString BytesText(qint64 bytes);
    // "3 s", "2 min 05 s".
    static QString DurationText(double seconds);
    // The line shown for a state: " 37%  6.0 KiB / 16.0 KiB  3.7 KiB/s  3 s left";
    // without a total "120 lines  6144 bytes  3.7 KiB/s" (lines when known).
    // The rate counts the bytes moved since the clock started (counted).
    static QString StatusText(qint64 done, qint64 total, qint64 counted, double elapsedSeconds,
                              qint64 lines = -1);

private:
    void Draw(bool force);
    void WriteLogLine();
    void ClearLine();

    Style m_style;
    QString m_label;
    qint64 m_total = 0;
    qint64 m_done = 0;
    qint64 m_lines = -1;    // lines arrived, when the file has no total
    QString m_feed;         // a tape send's feed status
    qint64 m_firstDone = 0; // bytes already counted at the first update
    int m_lastTenth = 0;
    bool m_active = false;
    bool m_barShown = false;
    QElapsedTimer m_clock; // since the first data of the file
    QElapsedTimer m_lastDraw;
    QElapsedTimer m_lastLine; // a log's last line of a file without a total or of a feed
};

} // namespace tapeway
