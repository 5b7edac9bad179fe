// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tools of the fault matrices (the session's and the command line's): test
// data, the files a row leaves, null-modem taps that lose bytes, a full disk
// and a check that the event loop still turns.
#include "serial/VirtualNullModem.h"
#include "support/WaitFor.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace faults {

inline QByteArray Pattern(int size, int seed)
{
    QByteArray data(size, 0);
    quint32 x = 2463534242u * quint32(seed);
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = char(x);
    }
    return data;
}

inline QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool Write(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Every entry below dir, relative, with its size.
inline QStringList Listing(const QString& dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        entries << QDir(dir).relativeFilePath(info.filePath()) +
                       (info.isDir() ? QStringLiteral("/")
                                     : QStringLiteral(" %1").arg(info.size()));
    }
    entries.sort();
    return entries;
}

inline QStringList StagingFiles(const QString& stem)
{
    return QDir(QDir::tempPath()).entryList({stem + QStringLiteral(".bak*")}, QDir::Files);
}

// Waits until no byte has moved on the modem for quietMs: what the other end
// had on the wire when a transfer ended has arrived. False when the line
// never quietens within timeoutMs.
inline bool WaitForQuietLine(const tapeway::VirtualNullModem& modem, int quietMs = 300,
                             int timeoutMs = 10000)
{
    using tapeway::VirtualNullModem;
    const auto moved = [&] {
        return modem.BytesForwarded(VirtualNullModem::AToB) +
               modem.BytesForwarded(VirtualNullModem::BToA) +
               modem.BytesDropped(VirtualNullModem::AToB) +
               modem.BytesDropped(VirtualNullModem::BToA);
    };
    qint64 seen = -1;
    QElapsedTimer quiet;
    return WaitFor(
        [&] {
            if (moved() != seen) {
                seen = moved();
                quiet.start();
            }
            return quiet.elapsed() >= quietMs;
        },
        timeoutMs);
}

// A 1 ms timer fires within half a second: nothing blocks the event loop.
inline bool EventLoopTurns()
{
    QObject context;
    bool fired = false;
    QTimer::singleShot(1, &context, [&] { fired = true; });
    return WaitFor([&] { return fired; }, 500);
}

// Drops every byte from the n-th byte of a value on (counted from 1), or only
// that one byte; counting may wait for another byte value to pass first.
inline tapeway::VirtualNullModem::Tap DropTap(quint8 value, int n, bool everythingAfter,
                                              int afterValue = -1)
{
    auto seen = std::make_shared<std::atomic<int>>(0);
    auto armed = std::make_shared<std::atomic<bool>>(afterValue < 0);
    auto silent = std::make_shared<std::atomic<bool>>(false);
    return [=](quint8& byte, qint64) {
        if (*silent)
            return false;
        if (!*armed) {
            if (byte == afterValue)
                *armed = true;
            return true;
        }
        if (byte != value || ++*seen != n)
            return true;
        if (everythingAfter)
            *silent = true;
        return false;
    };
}

// Writes made by RLIMIT_FSIZE fail past a limit, like on a full disk.
struct FileSizeLimit
{
    rlimit old{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_DFL);
    }
};

} // namespace faults
