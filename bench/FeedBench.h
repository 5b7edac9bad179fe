// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BenchRow.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// A drip feed as the shop runs it: `tapeway-cli send --protocol tape` in a
// process of its own feeds a generated part program over a null-modem of
// this process to `tapeway-cli controller --protocol tape read` in another.
struct FeedBenchSetup
{
    qint64 programBytes = 0;
    int baud = 115200;
    QString frame = QStringLiteral("8N1");
    bool paced = false;
    // The reader's buffer and the characters it takes a second (0: all at
    // once); its XOFF and XON fills are the controller's defaults.
    int readerBuffer = 256;
    int readerRate = 0;
    // Seconds of feeding from the first character on; 0: to the end.
    int windowSeconds = 0;
};

struct FeedBenchResult
{
    bool finished = false; // the sender completed and the reader stored the program
    bool whole = false;    // and the stored program's SHA-256 is the file's
    qint64 programBytes = 0;
    qint64 wireCharacters = 0; // characters the line carried to the reader
    double seconds = 0.0;      // from the first of them to the last
    double lineFraction = 0.0; // characters a second over the line's character rate
    qint64 senderPeakKib = 0;  // the sender's VmHWM, last read before it ended
    int xoffs = 0;             // DC3s the reader sent

    // The reader's closing figures.
    qint64 overruns = -1;
    qint64 readerMostAfterXoff = -1; // counted at the reader, the modem's way included
    bool readerFilled = false;
    double emptyMs = 0.0; // its buffer empty after its first fill
    qint64 timesRanDry = 0;
    // Counted where the XOFF reaches the sender's end.
    qint64 mostAfterXoff = 0;
    // The longest time the sender took to write again after an XON reached it.
    qint64 mostXonAnswerUs = 0;

    QString failure;
};

FeedBenchResult RunFeedBench(const QString& dir, const FeedBenchSetup& setup);

// The drip feed's rows: a 500 MB program unpaced (the sender's peak memory
// and its rate over the first 30 s, the whole program only when full), and
// a 200 KB program at 38400 7E2 paced to a reader that takes 90 % of the
// line's character rate from a 256-character buffer.
QList<BenchRow> FeedRows(const QString& dir, bool full);
