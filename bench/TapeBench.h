// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A tape send over the paced null-modem to a reader that takes every
// character at once, or that holds the line with XOFF every so often.
struct TapeBenchResult
{
    bool whole = false;      // the reader got exactly the wire form of the file
    double efficiency = 0.0; // characters x bits per character / baud over the time taken
    double seconds = 0.0;
    double limitSeconds = 0.0;
    qint64 mostAfterXoff = 0; // the most characters that reached the reader after its XOFF
    int holds = 0;
    QString failure;
};

// frame as "7E2"; xoffEvery 0: the reader never says XOFF, else it holds the
// line for holdMs after every xoffEvery characters.
TapeBenchResult RunTapeBench(const QString& dir, int baud, const QString& frame, qint64 size,
                             int xoffEvery, int holdMs);
