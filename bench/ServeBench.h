// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BenchRow.h"

#include <QList>
#include <QString>

// The service under load: `tapeway-cli serve` in a process of its own with
// many lines at once, while this process carries every simulated machine and
// every null-modem (a NullModemRack), so that the service's process does
// nothing but serve and the rig's cost is seen apart from it.
struct ServeBenchSetup
{
    int lines = 8;
    int baud = 38400;
    int fileSize = 32 * 1024;
    // Packet lines receive from machines that punch; tape lines send from
    // their outbox to machines that read (Plain 8N1 and Fanuc ISO in turn).
    bool tape = false;
};

struct ServeBenchResult
{
    int lines = 0;
    int whole = 0;                // files that arrived byte for byte
    double worstEfficiency = 0.0; // lowest line efficiency
    double seconds = 0.0;         // from the machines' start until the last file was whole
    double serviceCpu = 0.0;      // the service's user and system time over that span
    double rigCpu = 0.0;          // this process's (the machines' and the rack's)
    double rackCpu = 0.0;         // the rack's thread's alone
    qint64 mostLateUs = 0;        // the rack's latest step
    QString failure;              // why the run did not complete

    // Seconds of the service's CPU per line-hour of serving.
    double CpuPerLineHour() const
    {
        return seconds > 0 ? serviceCpu / (lines * seconds / 3600.0) : 0.0;
    }
};

ServeBenchResult RunServeBench(const QString& dir, const ServeBenchSetup& setup);

// The service's rows: 8, 32 and 64 packet lines at 38400 baud (64 KiB each)
// and 64 tape lines at 9600 baud (32 KiB each).
QList<BenchRow> ServeRows(const QString& dir);
