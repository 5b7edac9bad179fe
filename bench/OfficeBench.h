// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BenchRow.h"

#include <QList>
#include <QString>

// The service and its office view in one process: the service's lines, its
// desk and its web server on one thread (as `tapeway-cli serve` has them),
// the machines and their null-modems apart, and, in one of the two runs, an
// office client on a thread of its own that uploads, downloads, lists and
// logs in all the while. What the office costs the lines is the difference.
struct OfficeBenchResult
{
    int files = 0;                // programs the machines punched
    int whole = 0;                // of them, arrived byte for byte
    double worstEfficiency = 0.0; // lowest efficiency of any received file
    double seconds = 0.0;         // from the machines' start to the last file's end
    qint64 ticks = 0;             // of the service thread's 1 ms timer
    qint64 worstLateUs = 0;
    qint64 lateUs999 = 0; // 99.9th percentile lateness
    qint64 peakRssKiB = 0;
    bool peakReset = false;  // the peak was reset before the run (else: the process's peak)
    double processCpu = 0.0; // seconds, every thread
    double serviceCpu = 0.0; // the service's thread
    double clientCpu = 0.0;
    double rigCpu = 0.0; // the machines' thread and the rack's
    // The client's figures (zero without it).
    qint64 uploadedBytes = 0;
    int uploads = 0, downloads = 0, downloadsWhole = 0, lists = 0, deletes = 0, logins = 0;
    qint64 worstUploadMs = 0, worstLoginMs = 0;
    QString failure;
};

OfficeBenchResult RunOfficeBench(const QString& dir, int seconds, bool withClient);

// Both runs, the same length each, and their rows.
QList<BenchRow> OfficeRows(const QString& dir, int seconds);
