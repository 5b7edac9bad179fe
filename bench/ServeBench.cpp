// SPDX-License-Identifier: GPL-3.0-or-later
// Runs `tapeway-cli serve` with many receive lines at once. Each line's
// machine is a `tapeway-cli controller` process on a `tapeway-cli null-modem
// --pace` process, so that the service's own process does nothing but serve.
#include "ServeBench.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// A part program of about size bytes.
QByteArray Program(int number, int size)
{
    QByteArray text = "%\nO" + QByteArray::number(number) + "\n";
    for (int n = 1; text.size() < size - 3; ++n)
        text += "N" + QByteArray::number(n) + " G1 X" + QByteArray::number((n * number) % 997) +
                " Z-" + QByteArray::number(n % 83) + "\n";
    return text + "%\n";
}

// User and system CPU time of a process, in seconds, from /proc.
double CpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray text = stat.readAll();
    // The fields after the command name: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0.0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

std::unique_ptr<QProcess> Cli(const QStringList& args)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(QStringLiteral(TAPEWAY_CLI_PATH));
    process->setArguments(args);
    process->start();
    process->waitForStarted(10000);
    return process;
}

void End(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

ServeBenchResult RunServeBench(const QString& dir, int lines, int baud, int fileSize)
{
    ServeBenchResult result;
    result.lines = lines;
    const QDir root(QDir(dir).filePath(QStringLiteral("serve%1").arg(lines)));
    root.mkpath(QStringLiteral("run"));

    std::vector<std::unique_ptr<QProcess>> modems, controllers;
    QStringList machineEnds;
    QByteArray config;
    for (int i = 0; i < lines; ++i) {
        modems.push_back(Cli({QStringLiteral("null-modem"), QStringLiteral("--pace")}));
        QProcess& modem = *modems.back();
        QByteArray printed;
        QDeadlineTimer deadline(5000);
        while (printed.count('\n') < 2 && !deadline.hasExpired() && modem.waitForReadyRead(1000))
            printed += modem.readAllStandardOutput();
        const QStringList ends = QString::fromUtf8(printed).split(u'\n', Qt::SkipEmptyParts);
        if (ends.size() < 2) {
            result.failure = QStringLiteral("null-modem %1 did not start").arg(i);
            return result;
        }
        machineEnds << ends[1];
        root.mkpath(QStringLiteral("in%1").arg(i));
        config += QStringLiteral("[M%1]\nPort=%2\nMode=receive\nInbox=in%1\n\n")
                      .arg(i)
                      .arg(ends[0])
                      .toUtf8();
        QFile program(root.filePath(QStringLiteral("p%1.nc").arg(i)));
        program.open(QIODevice::WriteOnly);
        program.write(Program(1000 + i, fileSize));
    }
    QFile configFile(root.filePath(QStringLiteral("lines.ini")));
    configFile.open(QIODevice::WriteOnly);
    configFile.write(config);
    configFile.close();

    auto service = Cli({QStringLiteral("serve"), QStringLiteral("--config"), configFile.fileName(),
                        QStringLiteral("--runtime-dir"), root.filePath(QStringLiteral("run"))});
    const QString statusPath = root.filePath(QStringLiteral("run/lines.status.json"));
    const auto allWaiting = [&] {
        QFile status(statusPath);
        if (!status.open(QIODevice::ReadOnly))
            return false;
        const QJsonArray array = QJsonDocument::fromJson(status.readAll())
                                     .object()
                                     .value(QStringLiteral("lines"))
                                     .toArray();
        int waiting = 0;
        for (const QJsonValue& line : array)
            waiting += line.toObject().value(QStringLiteral("state")).toString() ==
                       QStringLiteral("waiting");
        return waiting == lines;
    };
    if (!WaitUntil(allWaiting, 20000)) {
        result.failure = QStringLiteral("the lines did not all wait");
    } else {
        const double cpuBefore = CpuSeconds(service->processId());
        for (int i = 0; i < lines; ++i)
            controllers.push_back(
                Cli({QStringLiteral("controller"), QStringLiteral("--port"), machineEnds[i],
                     QStringLiteral("send"), QStringLiteral("--baud"), QString::number(baud),
                     root.filePath(QStringLiteral("p%1.nc").arg(i))}));
        const auto allSaved = [&] {
            for (int i = 0; i < lines; ++i) {
                if (!QFile::exists(
                        root.filePath(QStringLiteral("in%1/O%2.nc").arg(i).arg(1000 + i))))
                    return false;
            }
            return true;
        };
        const int wireMs = int(qint64(fileSize) * 10 * 1000 / baud);
        WaitUntil(allSaved, wireMs * 4 + 30000);
        const double cpu = CpuSeconds(service->processId()) - cpuBefore;
        double helpers = 0.0;
        for (const auto& process : modems)
            helpers += CpuSeconds(process->processId());
        std::fprintf(stderr, "  %d lines: service %.2f s CPU, null-modems %.2f s CPU in all\n",
                     lines, cpu, helpers);

        // "M3: received PATH (N bytes in S s)", one per line.
        service->waitForReadyRead(100);
        const QString log = QString::fromUtf8(service->readAllStandardError());
        static const QRegularExpression received(
            QStringLiteral("^M\\d+: received \\S+ \\((\\d+) bytes in ([0-9.]+) s\\)$"),
            QRegularExpression::MultilineOption);
        double lineSeconds = 0.0;
        result.worstEfficiency = 1e9;
        int seen = 0;
        for (auto it = received.globalMatch(log); it.hasNext(); ++seen) {
            const auto match = it.next();
            const double bytes = match.captured(1).toDouble();
            // Measured from the accepted header; its 17 bytes at 9600 baud go in front.
            const double seconds = match.captured(2).toDouble() + 17.0 * 10.0 / 9600.0;
            lineSeconds += seconds;
            result.worstEfficiency =
                std::min(result.worstEfficiency, bytes * 10.0 / baud / seconds);
        }
        if (seen < lines)
            result.worstEfficiency = 0.0;
        for (int i = 0; i < lines; ++i) {
            QFile sent(root.filePath(QStringLiteral("p%1.nc").arg(i)));
            QFile got(root.filePath(QStringLiteral("in%1/O%2.nc").arg(i).arg(1000 + i)));
            if (sent.open(QIODevice::ReadOnly) && got.open(QIODevice::ReadOnly) &&
                sent.readAll() == got.readAll())
                ++result.whole;
        }
        result.cpuPerLineHour = lineSeconds > 0 ? cpu / (lineSeconds / 3600.0) : 0.0;
        for (const QString& event : log.split(u'\n')) {
            if (event.contains(QStringLiteral("failed")) ||
                event.contains(QStringLiteral("unusable")))
                std::fprintf(stderr, "    %s\n", qPrintable(event));
        }
        if (result.whole < lines)
            result.failure = QStringLiteral("%1 of %2 files whole, %3 transfers failed")
                                 .arg(result.whole)
                                 .arg(lines)
                                 .arg(log.count(QStringLiteral(": receive failed")));
    }
    End(*service);
    for (auto& process : controllers)
        End(*process);
    for (auto& process : modems)
        End(*process);
    return result;
}
