// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ProgressReporter.h"

#include "cli/Console.h"

#include <cmath>

namespace tapeway {

namespace {

constexpr int kBarWidth = 24;
constexpr int kRedrawMs = 100;
// Without a total there are no tenths: a log gets a line this often.
constexpr int kUnknownTotalLineMs = 10000;
// A feed that lasts hours says where it stands in a log this often.
constexpr int kFeedLineMs = 60000;

} // namespace

ProgressReporter::ProgressReporter()
    : m_style(Console::ErrIsTerminal() ? Style::Live : Style::Lines)
{
}

QString ProgressReporter::BytesText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(bytes) / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

QString ProgressReporter::DurationText(double seconds)
{
    const qint64 whole = qint64(std::ceil(std::max(seconds, 0.0)));
    if (whole < 60)
        return QStringLiteral("%1 s").arg(whole);
    return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString ProgressReporter::StatusText(qint64 done, qint64 total, qint64 counted,
                                     double elapsedSeconds, qint64 lines)
{
    if (total <= 0) {
        // What has arrived so far of a length nobody announced.
        QString text = QStringLiteral("%1 bytes").arg(done);
        if (lines >= 0)
            text.prepend((lines == 1 ? QStringLiteral("%1 line  ") : QStringLiteral("%1 lines  "))
                             .arg(lines));
        if (elapsedSeconds > 0.05 && counted > 0)
            text +=
                QStringLiteral("  %1/s").arg(BytesText(qint64(double(counted) / elapsedSeconds)));
        return text;
    }
    const int percent = total > 0 ? int(done * 100 / total) : 0;
    QString text =
        QStringLiteral("%1%  %2 / %3").arg(percent, 3).arg(BytesText(done), BytesText(total));
    if (elapsedSeconds > 0.05 && counted > 0) {
        const double rate = double(counted) / elapsedSeconds;
        text += QStringLiteral("  %1/s").arg(BytesText(qint64(rate)));
        if (done < total)
            text += QStringLiteral("  %1 left").arg(DurationText(double(total - done) / rate));
    }
    return text;
}

void ProgressReporter::Begin(const QString& label, qint64 total)
{
    End();
    m_label = label;
    m_total = total;
    m_done = 0;
    m_lines = -1;
    m_feed.clear();
    m_lastTenth = 0;
    m_active = true;
    m_clock.invalidate();
    m_lastLine.invalidate();
}

void ProgressReporter::Update(qint64 done)
{
    if (!m_active || m_style == Style::Silent)
        return;
    if (!m_clock.isValid()) {
        // The first update marks the start: the bytes it reports were on
        // their way before the clock ran.
        m_clock.start();
        m_firstDone = done;
    }
    m_done = done;
    if (m_style == Style::Live) {
        Draw(m_total > 0 && done >= m_total);
        return;
    }
    if (m_total <= 0) {
        if (!m_lastLine.isValid())
            m_lastLine.start(); // the first line comes one interval into the data
        if (m_lastLine.elapsed() < kUnknownTotalLineMs)
            return;
        m_lastLine.start();
        Console::Err(
            m_label + QStringLiteral(": ") +
            StatusText(done, 0, done - m_firstDone, double(m_clock.nsecsElapsed()) / 1e9, m_lines));
        return;
    }
    const int tenth = m_total > 0 ? int(done * 10 / m_total) : 10;
    if (tenth <= m_lastTenth)
        return;
    m_lastTenth = tenth;
    WriteLogLine();
}

void ProgressReporter::Feed(const QString& text)
{
    if (!m_active || m_style == Style::Silent)
        return;
    m_feed = text;
    if (m_style == Style::Live) {
        Draw(false);
        return;
    }
    if (m_lastLine.isValid() && m_lastLine.elapsed() < kFeedLineMs)
        return;
    WriteLogLine();
}

void ProgressReporter::WriteLogLine()
{
    const double seconds = m_clock.isValid() ? double(m_clock.nsecsElapsed()) / 1e9 : 0.0;
    QString text =
        m_label + QStringLiteral(": ") + StatusText(m_done, m_total, m_done - m_firstDone, seconds);
    if (!m_feed.isEmpty())
        text += QStringLiteral("  ") + m_feed;
    Console::Err(text);
    m_lastLine.start();
}

void ProgressReporter::Arrived(qint64 lines, qint64 bytes)
{
    m_lines = lines;
    Update(bytes);
}

void ProgressReporter::End()
{
    ClearLine();
    m_active = false;
}

void ProgressReporter::Note(const QString& text)
{
    if (m_style == Style::Silent)
        return;
    ClearLine();
    Console::Err(text);
}

void ProgressReporter::Draw(bool force)
{
    if (!force && m_lastDraw.isValid() && m_lastDraw.elapsed() < kRedrawMs)
        return;
    m_lastDraw.start();
    // A feed's status may come before the first data: no clock, no rate.
    const double seconds = m_clock.isValid() ? double(m_clock.nsecsElapsed()) / 1e9 : 0.0;
    const QString status = StatusText(m_done, m_total, m_done - m_firstDone, seconds, m_lines);
    if (!m_feed.isEmpty()) {
        // The feed's words in place of the bar, so that the line fits a terminal.
        Console::ErrRaw(QStringLiteral("\r%1: %2  %3\x1b[K").arg(m_label, status, m_feed));
    } else if (m_total <= 0) {
        // No total, no bar: the count alone.
        Console::ErrRaw(QStringLiteral("\r%1: %2\x1b[K").arg(m_label, status));
    } else {
        const int filled = int(m_done * kBarWidth / m_total);
        const QString bar = QString(filled, u'#') + QString(kBarWidth - filled, u'.');
        Console::ErrRaw(QStringLiteral("\r%1 [%2] %3\x1b[K").arg(m_label, bar, status));
    }
    m_barShown = true;
}

void ProgressReporter::ClearLine()
{
    if (!m_barShown)
        return;
    Console::ErrRaw(QStringLiteral("\r\x1b[K"));
    m_barShown = false;
}

} // namespace tapeway
