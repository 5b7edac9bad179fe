// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/WaitFor.h"

#include <QProcess>
#include <QStringList>
#include <csignal>

// The built tapeway-cli run as a child process. TAPEWAY_CLI_PATH comes from
// the build (tests/CMakeLists.txt) for the test_cli* suites.
struct CliProcess
{
    QProcess process;
    QString out;
    QString err;

    CliProcess() = default;
    explicit CliProcess(const QStringList& args) { Start(args); }
    ~CliProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    void Start(const QStringList& args)
    {
        process.setProgram(QStringLiteral(TAPEWAY_CLI_PATH));
        process.setArguments(args);
        process.start();
        process.waitForStarted(10000);
    }

    // Runs the event loop until the process ended; false when it did not in time.
    bool Wait(int timeoutMs = 30000)
    {
        const bool ended =
            WaitFor([this] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        Collect();
        return ended;
    }

    void Collect()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        err += QString::fromUtf8(process.readAllStandardError());
    }

    // Waits until stderr (or stdout) contains the text.
    bool WaitForText(const QString& text, int timeoutMs = 15000)
    {
        return WaitFor(
            [&] {
                Collect();
                return err.contains(text) || out.contains(text);
            },
            timeoutMs);
    }

    // Never signals pid 0 (that would be our own process group).
    bool Signal(int signalNumber)
    {
        const qint64 pid = process.processId();
        return process.state() == QProcess::Running && pid > 0 &&
               ::kill(pid_t(pid), signalNumber) == 0;
    }

    int ExitCode() const
    {
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QStringList OutLines() const { return out.split(u'\n', Qt::SkipEmptyParts); }

    // Runs to the end and gives the exit status.
    static int RunToEnd(const QStringList& args, CliProcess* keep = nullptr, int timeoutMs = 30000)
    {
        CliProcess local;
        CliProcess& cli = keep ? *keep : local;
        cli.Start(args);
        if (!cli.Wait(timeoutMs))
            return -2;
        return cli.ExitCode();
    }
};
