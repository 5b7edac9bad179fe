// SPDX-License-Identifier: GPL-3.0-or-later
// Runs `tapeway-cli serve` with many lines at once. Every line's machine is a
// simulated controller of this process on a pair of this process's
// NullModemRack, whose one thread paces all lines in 1 ms steps: the rig's
// cost no longer grows by a process and a thread per line, and what the
// service's process spends is the service's alone.
#include "ServeBench.h"

#include "BenchSupport.h"
#include "serial/NullModemRack.h"
#include "transfer/SimulatedController.h"
#include "transfer/TapeController.h"
#include "transfer/TapeProfileFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

using namespace tapeway;
using namespace benchsupport;

namespace {

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

// The profile a tape line's machine uses, as the service's line sets it.
TapeProfile TapeLineProfile(int line, int baud)
{
    const QString name = line % 2 ? QStringLiteral("Fanuc ISO") : QStringLiteral("Plain 8N1");
    TapeProfile profile = *TapeProfileFile::Find(TapeProfileFile::Presets(), name);
    TapeProfileFile::SetValue(profile, QStringLiteral("Baud"), QString::number(baud));
    TapeProfileFile::SetValue(profile, QStringLiteral("StartOn"), QStringLiteral("xon"));
    return profile;
}

} // namespace

ServeBenchResult RunServeBench(const QString& dir, const ServeBenchSetup& setup)
{
    ServeBenchResult result;
    const int lines = setup.lines;
    result.lines = lines;
    const QDir root(QDir(dir).filePath(
        QStringLiteral("serve%1%2").arg(setup.tape ? "tape" : "packet").arg(lines)));
    root.mkpath(QStringLiteral("run"));

    NullModemRack rack(lines);
    std::vector<TapeProfile> profiles;
    for (int i = 0; i < lines && setup.tape; ++i) {
        profiles.push_back(TapeLineProfile(i, setup.baud));
        const UartModel::Frame frame = *UartModel::Frame::Parse(profiles.back().FrameText());
        rack.SetFrame(i, NullModemRack::AToB, frame);
        rack.SetFrame(i, NullModemRack::BToA, frame);
    }
    if (!rack.Start()) {
        result.failure = rack.LastError();
        return result;
    }

    // The service reads only the presets: an empty file of own profiles.
    QFile(root.filePath(QStringLiteral("tape-profiles.ini"))).open(QIODevice::WriteOnly);
    QByteArray config = "Profiles=tape-profiles.ini\n\n";
    for (int i = 0; i < lines; ++i) {
        const QString program = root.filePath(QStringLiteral("p%1.nc").arg(i));
        if (setup.tape) {
            root.mkpath(QStringLiteral("out%1").arg(i));
            root.mkpath(QStringLiteral("read%1").arg(i));
            config += QStringLiteral("[T%1]\nPort=%2\nMode=send\nOutbox=out%1\nProtocol=tape\n"
                                     "Profile=%3\nBaud=%4\nStartOn=xon\n\n")
                          .arg(i)
                          .arg(rack.PortA(i), profiles[size_t(i)].name)
                          .arg(setup.baud)
                          .toUtf8();
        } else {
            root.mkpath(QStringLiteral("in%1").arg(i));
            config += QStringLiteral("[M%1]\nPort=%2\nMode=receive\nInbox=in%1\n\n")
                          .arg(i)
                          .arg(rack.PortA(i))
                          .toUtf8();
        }
        QFile file(setup.tape ? root.filePath(QStringLiteral("out%1/O%2.nc").arg(i).arg(1000 + i))
                              : program);
        file.open(QIODevice::WriteOnly);
        file.write(Program(1000 + i, setup.fileSize));
        file.close();
        if (setup.tape)
            QFile::copy(file.fileName(), program); // the outbox's copy moves to sent/
    }
    QFile configFile(root.filePath(QStringLiteral("lines.ini")));
    configFile.open(QIODevice::WriteOnly);
    configFile.write(config);
    configFile.close();

    QProcess service;
    // The bench's journal and feed snapshots stay in its own folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAPEWAY_JOURNAL"),
                       QStringLiteral("sqlite:") + root.filePath(QStringLiteral("journal.sqlite")));
    environment.insert(QStringLiteral("STATE_DIRECTORY"), root.filePath(QStringLiteral("state")));
    root.mkpath(QStringLiteral("state"));
    service.setProcessEnvironment(environment);
    service.setProgram(QStringLiteral(TAPEWAY_CLI_PATH));
    service.setArguments({QStringLiteral("serve"), QStringLiteral("--config"),
                          configFile.fileName(), QStringLiteral("--runtime-dir"),
                          root.filePath(QStringLiteral("run"))});
    service.start();
    service.waitForStarted(10000);
    const QString statusPath = root.filePath(QStringLiteral("run/lines.status.json"));
    // A packet line waits for its machine; a tape line's file joins its queue
    // once it has not changed for 2 s, and its send then waits for the XON.
    const auto ready = [&] {
        return LinesIn(statusPath,
                       setup.tape ? QStringLiteral("sending") : QStringLiteral("waiting")) == lines;
    };
    if (!RunUntil(ready, 30000)) {
        result.failure = QStringLiteral("the lines did not all wait");
        End(service);
        std::fprintf(stderr, "%s\n", service.readAllStandardError().constData());
        return result;
    }

    const double serviceBefore = CpuSeconds(service.processId());
    const double rigBefore = OwnCpuSeconds();
    const double rackBefore = rack.CpuSeconds();
    const double start = NowSeconds();
    std::vector<std::unique_ptr<SimulatedController>> punchers;
    std::vector<std::unique_ptr<TapeController>> readers;
    int stored = 0, failed = 0;
    QStringList failures;
    for (int i = 0; i < lines; ++i) {
        const QString program = root.filePath(QStringLiteral("p%1.nc").arg(i));
        if (setup.tape) {
            readers.push_back(std::make_unique<TapeController>(rack.PortB(i)));
            TapeController& reader = *readers.back();
            reader.SetProfile(profiles[size_t(i)]);
            QObject::connect(&reader, &TapeController::ProgramStored, [&] { ++stored; });
            QObject::connect(&reader, &TapeController::Failed, [&, i](const QString& why) {
                ++failed;
                failures << QStringLiteral("T%1: %2").arg(i).arg(why);
            });
            reader.Read(root.filePath(QStringLiteral("read%1").arg(i)), 1);
        } else {
            punchers.push_back(std::make_unique<SimulatedController>(rack.PortB(i)));
            SimulatedController& puncher = *punchers.back();
            QObject::connect(&puncher, &SimulatedController::Failed, [&, i](const QString& why) {
                ++failed;
                failures << QStringLiteral("M%1: %2").arg(i).arg(why);
            });
            puncher.SendFiles(QStringList{program}, setup.baud);
        }
    }
    const auto received = [&](int i) {
        return root.filePath(setup.tape ? QStringLiteral("read%1/O%2.nc").arg(i).arg(1000 + i)
                                        : QStringLiteral("in%1/O%2.nc").arg(i).arg(1000 + i));
    };
    const auto allDone = [&] {
        if (setup.tape)
            return stored + failed >= lines;
        for (int i = 0; i < lines; ++i) {
            if (!QFile::exists(received(i)))
                return false;
        }
        return true;
    };
    const int bits = setup.tape ? 11 : 10;
    const int wireMs = int(qint64(setup.fileSize) * bits * 1000 / setup.baud);
    RunUntil(allDone, wireMs * 3 + 30000);
    result.seconds = NowSeconds() - start;
    result.serviceCpu = CpuSeconds(service.processId()) - serviceBefore;
    result.rigCpu = OwnCpuSeconds() - rigBefore;
    result.rackCpu = rack.CpuSeconds() - rackBefore;
    result.mostLateUs = rack.MostLateUs();

    for (int i = 0; i < lines; ++i)
        result.whole += SameFile(root.filePath(QStringLiteral("p%1.nc").arg(i)), received(i));
    result.worstEfficiency = lines > 0 ? 1e9 : 0.0;
    if (setup.tape) {
        // Characters x bits per character / baud over the first character's
        // end to the last one's, as the rack saw them leave the wire.
        for (int i = 0; i < lines; ++i) {
            const qint64 characters = rack.BytesForwarded(i, NullModemRack::AToB);
            const double span = double(rack.LastArrivalNs(i, NullModemRack::AToB) -
                                       rack.FirstArrivalNs(i, NullModemRack::AToB)) /
                                1e9;
            const double limit =
                double(characters - 1) * profiles[size_t(i)].BitsPerCharacter() / setup.baud;
            result.worstEfficiency =
                std::min(result.worstEfficiency, span > 0 ? limit / span : 0.0);
        }
    } else {
        // "M3: received PATH (N bytes in S s)", one per line.
        RunUntil([] { return false; }, 200); // the last log lines
        const QString log = QString::fromUtf8(service.readAllStandardError());
        static const QRegularExpression line(
            QStringLiteral("^M\\d+: received \\S+ \\((\\d+) bytes in ([0-9.]+) s\\)$"),
            QRegularExpression::MultilineOption);
        int seen = 0;
        for (auto it = line.globalMatch(log); it.hasNext(); ++seen) {
            const auto match = it.next();
            result.worstEfficiency = std::min(
                result.worstEfficiency, PacketEfficiency(match.captured(1).toLongLong(),
                                                         match.captured(2).toDouble(), setup.baud));
        }
        if (seen < lines)
            result.worstEfficiency = 0.0;
        for (const QString& event : log.split(u'\n')) {
            if (event.contains(QStringLiteral("failed")) ||
                event.contains(QStringLiteral("unusable")))
                failures << event;
        }
    }
    for (const QString& why : failures)
        std::fprintf(stderr, "    %s\n", qPrintable(why));
    if (result.whole < lines)
        result.failure = QStringLiteral("%1 of %2 files whole").arg(result.whole).arg(lines);

    End(service);
    punchers.clear();
    readers.clear();
    rack.Stop();
    return result;
}

QList<BenchRow> ServeRows(const QString& dir)
{
    QList<BenchRow> rows;
    const ServeBenchSetup setups[] = {
        {8, 38400, 64 * 1024, false},
        {32, 38400, 64 * 1024, false},
        {64, 38400, 64 * 1024, false},
        {64, 9600, 32 * 1024, true},
    };
    for (const ServeBenchSetup& setup : setups) {
        const ServeBenchResult r = RunServeBench(dir, setup);
        const bool ok = r.failure.isEmpty();
        const QString what = QStringLiteral("serve %1 %2 lines at %3: ")
                                 .arg(setup.lines)
                                 .arg(setup.tape ? "tape" : "packet")
                                 .arg(setup.baud);
        rows << BenchRow{what + QStringLiteral("worst line efficiency"),
                         ok ? QStringLiteral("%1 (%2/%3 files whole)")
                                  .arg(r.worstEfficiency, 0, 'f', 3)
                                  .arg(r.whole)
                                  .arg(setup.lines)
                            : QStringLiteral("FAILED: ") + r.failure,
                         QStringLiteral(">= 0.97"), ok && r.worstEfficiency >= 0.97};
        rows << BenchRow{
            what + QStringLiteral("service CPU per line-hour"),
            QStringLiteral("%1 s (all lines: %2 % of a core)")
                .arg(r.CpuPerLineHour(), 0, 'f', 1)
                .arg(r.seconds > 0 ? 100.0 * r.serviceCpu / r.seconds : 0.0, 0, 'f', 1),
            QStringLiteral("(report)"), ok};
        rows << BenchRow{what + QStringLiteral("rig CPU (machines, rack)"),
                         QStringLiteral("%1 % of a core (rack %2 %), steps late <= %3 ms")
                             .arg(r.seconds > 0 ? 100.0 * r.rigCpu / r.seconds : 0.0, 0, 'f', 0)
                             .arg(r.seconds > 0 ? 100.0 * r.rackCpu / r.seconds : 0.0, 0, 'f', 0)
                             .arg(double(r.mostLateUs) / 1000.0, 0, 'f', 1),
                         QStringLiteral("(report)"), ok};
    }
    return rows;
}
