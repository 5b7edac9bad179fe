// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The service under load: lines receiving at once, each from a controller in
// its own process over a paced null-modem in yet another process.
struct ServeBenchResult
{
    int lines = 0;
    int whole = 0;                // files that arrived byte for byte
    double worstEfficiency = 0.0; // lowest line efficiency
    double cpuPerLineHour = 0.0;  // seconds of the service's CPU per line-hour of transfer
    QString failure;              // why the run did not complete
};

ServeBenchResult RunServeBench(const QString& dir, int lines, int baud, int fileSize);
