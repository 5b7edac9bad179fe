// SPDX-License-Identifier: GPL-3.0-or-later
// The office view beside the lines it shows. One process holds the service
// (its lines and the desk on the main thread, the web server on a thread of
// its own, as `tapeway-cli serve` has them), eight simulated machines on a thread of
// their own that punch programs at 38400 baud over a NullModemRack, and, in
// the second run, an office client on its own thread. A 1 ms precise timer
// on the service's thread tells how late its event loop gets: a request
// that held the loop would show there and in the lines' efficiency.
#include "OfficeBench.h"

#include "BenchSupport.h"
#include "LoopLateness.h"
#include "OfficeClient.h"
#include "journal/JournalThread.h"
#include "serial/NullModemRack.h"
#include "serve/OfficeDesk.h"
#include "serve/ServeService.h"
#include "transfer/SimulatedController.h"
#include "web/OfficeThread.h"
#include "web/UsersFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

using namespace tapeway;
using namespace benchsupport;

namespace {

constexpr int kLines = 8;
constexpr int kBaud = 38400;
constexpr int kFileSize = 64 * 1024;
const char kUser[] = "office";
const char kPassword[] = "bench-password";

// The simulated machines, on a thread of their own: made, driven and ended
// there.
struct Machines
{
    std::vector<std::unique_ptr<SimulatedController>> punchers;
    std::vector<QList<QPair<int, QByteArray>>> punched; // each line's programs: number, bytes
    QStringList failures;
    std::atomic<int> busy{0}; // machines still punching
    double cpuStart = 0.0;
    double cpu = 0.0;
};

// Writing 5 to clear_refs resets the peak resident size (Linux 4.0).
bool ResetPeakMemory()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

qint64 PeakMemoryKiB()
{
    return std::max<qint64>(0, benchsupport::PeakKib(QCoreApplication::applicationPid()));
}

void OnThreadOf(QObject* anchor, const std::function<void()>& work)
{
    QMetaObject::invokeMethod(anchor, work, Qt::BlockingQueuedConnection);
}

QByteArray Config(const QDir& root, const NullModemRack& rack)
{
    QByteArray config = QStringLiteral("[HTTP]\nListen=127.0.0.1:0\nUsers=%1\nMaxUpload=64M\n\n")
                            .arg(root.filePath(QStringLiteral("users")))
                            .toUtf8();
    for (int i = 0; i < kLines; ++i) {
        root.mkpath(QStringLiteral("in%1").arg(i));
        // The first line also keeps an outbox, for the office's uploads: a
        // line of both sends only what its machine asks for, and these
        // machines only punch.
        if (i == 0)
            root.mkpath(QStringLiteral("out0"));
        config +=
            QStringLiteral("[M%1]\nPort=%2\nMode=%3\nInbox=in%1\n%4\n")
                .arg(i)
                .arg(rack.PortA(i), i == 0 ? "both" : "receive", i == 0 ? "Outbox=out0\n" : "")
                .toUtf8();
    }
    return config;
}

} // namespace

OfficeBenchResult RunOfficeBench(const QString& dir, int seconds, bool withClient)
{
    OfficeBenchResult result;
    const QDir root(QDir(dir).filePath(withClient ? QStringLiteral("office-client")
                                                  : QStringLiteral("office-quiet")));
    root.mkpath(QStringLiteral("run"));
    NullModemRack rack(kLines);
    if (!rack.Start()) {
        result.failure = rack.LastError();
        return result;
    }
    UsersFile users(root.filePath(QStringLiteral("users")));
    users.Put({QString::fromLatin1(kUser), UsersFile::Role::Operator,
               PasswordHash::Make(QString::fromLatin1(kPassword))});
    QString error;
    QFile configFile(root.filePath(QStringLiteral("lines.ini")));
    if (!users.Save(&error) || !configFile.open(QIODevice::WriteOnly) ||
        configFile.write(Config(root, rack)) < 0) {
        result.failure = error.isEmpty() ? configFile.errorString() : error;
        return result;
    }
    configFile.close();

    // The service and its desk on this thread, the web server on its own,
    // as `tapeway-cli serve` has them.
    JournalThread journal(JournalLocation::Parse(QStringLiteral("sqlite:") +
                                                 root.filePath(QStringLiteral("journal.sqlite"))));
    ServeService::Options options;
    options.configPath = configFile.fileName();
    options.runtimeDir = root.filePath(QStringLiteral("run"));
    auto service = std::make_unique<ServeService>(options);
    service->SetJournal(&journal);
    QStringList failures;
    QObject::connect(service.get(), &ServeService::Message, [&](const QString& text) {
        if (text.contains(QStringLiteral("failed")) || text.contains(QStringLiteral("unusable")))
            failures << text;
    });
    QList<LineTransfer> transfers;
    QObject::connect(service.get(), &ServeService::TransferEnded,
                     [&](const LineTransfer& transfer) { transfers << transfer; });
    std::unique_ptr<OfficeDesk> desk;
    std::unique_ptr<OfficeThread> server;
    if (service->Start() && service->Http()) {
        desk = std::make_unique<OfficeDesk>(service.get(), &journal);
        server = std::make_unique<OfficeThread>(*service->Http(), desk.get());
        if (!server->Start(&error))
            server.reset();
    }

    QThread machinesThread;
    machinesThread.setObjectName(QStringLiteral("machines"));
    machinesThread.start();
    QObject anchor;
    anchor.moveToThread(&machinesThread);
    Machines machines;
    const auto finish = [&] {
        OnThreadOf(&anchor, [&] { machines.punchers.clear(); });
        machinesThread.quit();
        machinesThread.wait();
        server.reset();
        desk.reset();
        service->Stop();
        service.reset();
        journal.Finish();
        rack.Stop();
    };
    const QString statusPath = service->StatusPath();
    const auto ready = [&] { return LinesIn(statusPath, QStringLiteral("waiting")) == kLines; };
    if (!server || !RunUntil(ready, 30000)) {
        result.failure =
            !server ? QStringLiteral("office view: ") + error + failures.join(QStringLiteral("; "))
                    : QStringLiteral("the lines did not all wait");
        finish();
        return result;
    }

    // The office's program: as large as the upload limit lets it be.
    const QByteArray upload = Program(9000, HttpConfig::kDefaultMaxUpload - 64);
    QThread clientThread;
    clientThread.setObjectName(QStringLiteral("client"));
    OfficeClient* client = nullptr;
    std::atomic<bool> clientDone{!withClient};
    if (withClient) {
        client = new OfficeClient(QUrl(server->Url()), QString::fromLatin1(kUser),
                                  QString::fromLatin1(kPassword), QStringLiteral("M0"),
                                  QStringLiteral("M1"), upload);
        client->moveToThread(&clientThread);
        QObject::connect(
            client, &OfficeClient::Finished, client, [&] { clientDone = true; },
            Qt::DirectConnection);
        clientThread.start();
    }

    result.peakReset = ResetPeakMemory();
    const double processBefore = OwnCpuSeconds();
    const double serviceBefore = ThreadCpuSeconds();
    const double rackBefore = rack.CpuSeconds();
    LoopLateness probe;
    probe.Start();
    if (client)
        QMetaObject::invokeMethod(client, &OfficeClient::Start, Qt::QueuedConnection);

    // Every machine punches one program after the other until the time is up.
    const double start = NowSeconds();
    const double end = start + seconds;
    std::function<void(int)> punch = [&](int i) {
        QList<QPair<int, QByteArray>>& done = machines.punched[size_t(i)];
        const int number = 1000 + 100 * i + int(done.size());
        done.append({number, Program(number, kFileSize)});
        machines.punchers[size_t(i)]->SendFiles(QList<QByteArray>{done.last().second}, kBaud);
    };
    OnThreadOf(&anchor, [&] {
        machines.cpuStart = ThreadCpuSeconds();
        machines.punched.resize(kLines);
        machines.busy = kLines;
        for (int i = 0; i < kLines; ++i) {
            machines.punchers.push_back(std::make_unique<SimulatedController>(rack.PortB(i)));
            SimulatedController* puncher = machines.punchers.back().get();
            QObject::connect(puncher, &SimulatedController::Failed, puncher,
                             [&, i](const QString& why) {
                                 machines.failures << QStringLiteral("M%1: %2").arg(i).arg(why);
                                 --machines.busy;
                             });
            QObject::connect(puncher, &SimulatedController::Finished, puncher, [&, i, puncher] {
                if (NowSeconds() < end && machines.punched[size_t(i)].size() < 99)
                    QTimer::singleShot(0, puncher, [&, i] { punch(i); });
                else
                    --machines.busy;
            });
            punch(i);
        }
    });
    if (client)
        QTimer::singleShot(seconds * 1000, client, [client] { client->Stop(); });
    const int fileMs = kFileSize * 10 * 1000 / kBaud;
    RunUntil([&] { return machines.busy <= 0 && clientDone; }, seconds * 1000 + fileMs * 3 + 60000);
    // The last file is placed once the line has its end.
    const auto received = [&](int i, int number) {
        return root.filePath(QStringLiteral("in%1/O%2.nc").arg(i).arg(number));
    };
    OnThreadOf(&anchor, [&] { machines.cpu = ThreadCpuSeconds() - machines.cpuStart; });
    const auto allPlaced = [&] {
        for (int i = 0; i < kLines; ++i) {
            for (const auto& program : machines.punched[size_t(i)]) {
                if (!QFile::exists(received(i, program.first)))
                    return false;
            }
        }
        return true;
    };
    RunUntil(allPlaced, 10000);
    result.seconds = NowSeconds() - start;
    probe.Stop();
    result.ticks = probe.Ticks();
    result.worstLateUs = probe.WorstUs();
    result.lateUs999 = probe.PercentileUs(0.999);
    result.processCpu = OwnCpuSeconds() - processBefore;
    result.serviceCpu = ThreadCpuSeconds() - serviceBefore;
    result.rigCpu = machines.cpu + rack.CpuSeconds() - rackBefore;
    result.peakRssKiB = PeakMemoryKiB();

    if (client) {
        OnThreadOf(client, [&] {
            const OfficeClient::Figures& f = client->Result();
            result.clientCpu = f.cpuSeconds;
            result.uploadedBytes = f.uploadedBytes;
            result.uploads = f.uploads;
            result.downloads = f.downloads;
            result.downloadsWhole = f.downloadsWhole;
            result.lists = f.lists;
            result.deletes = f.deletes;
            result.logins = f.logins;
            result.worstUploadMs = f.worstUploadMs;
            result.worstLoginMs = f.worstLoginMs;
            failures << f.failures;
            if (!clientDone)
                failures << QStringLiteral("the office client did not finish");
            delete client;
        });
        clientThread.quit();
        clientThread.wait();
    }

    for (int i = 0; i < kLines; ++i) {
        for (const auto& [number, data] : machines.punched[size_t(i)]) {
            ++result.files;
            QFile file(received(i, number));
            result.whole += file.open(QIODevice::ReadOnly) && file.readAll() == data;
        }
    }
    result.worstEfficiency = transfers.isEmpty() ? 0.0 : 1e9;
    for (const LineTransfer& transfer : transfers) {
        if (transfer.sent || !transfer.ok)
            continue;
        result.worstEfficiency =
            std::min(result.worstEfficiency,
                     PacketEfficiency(transfer.bytes, double(transfer.elapsedMs) / 1000.0, kBaud));
    }
    failures << machines.failures;
    for (const QString& why : failures)
        std::fprintf(stderr, "    %s\n", qPrintable(why));
    if (result.whole < result.files)
        result.failure = QStringLiteral("%1 of %2 files whole").arg(result.whole).arg(result.files);
    else if (!failures.isEmpty())
        result.failure = failures.first();
    finish();
    return result;
}

QList<BenchRow> OfficeRows(const QString& dir, int seconds)
{
    QList<BenchRow> rows;
    for (const bool withClient : {false, true}) {
        const OfficeBenchResult r = RunOfficeBench(dir, seconds, withClient);
        const bool ok = r.failure.isEmpty();
        const QString what = withClient ? QStringLiteral("office busy, 8 packet lines: ")
                                        : QStringLiteral("office idle, 8 packet lines: ");
        const auto share = [&](double cpu) {
            return QString::number(r.seconds > 0 ? 100.0 * cpu / r.seconds : 0.0, 'f', 1);
        };
        rows << BenchRow{what + QStringLiteral("worst file's line efficiency"),
                         ok ? QStringLiteral("%1 (%2/%3 files whole)")
                                  .arg(r.worstEfficiency, 0, 'f', 3)
                                  .arg(r.whole)
                                  .arg(r.files)
                            : QStringLiteral("FAILED: ") + r.failure,
                         QStringLiteral(">= 0.97"), ok && r.worstEfficiency >= 0.97};
        rows << BenchRow{what + QStringLiteral("service loop late, worst / 99.9 %"),
                         QStringLiteral("%1 ms / %2 ms (%3 ticks of 1 ms)")
                             .arg(double(r.worstLateUs) / 1000.0, 0, 'f', 1)
                             .arg(double(r.lateUs999) / 1000.0, 0, 'f', 2)
                             .arg(r.ticks),
                         QStringLiteral("< 20 ms"), r.ticks > 0 && r.worstLateUs < 20000};
        rows << BenchRow{
            what + QStringLiteral("CPU, % of a core"),
            QStringLiteral("all %1 (service thread %2, client %3, rig %4)")
                .arg(share(r.processCpu), share(r.serviceCpu), share(r.clientCpu), share(r.rigCpu)),
            QStringLiteral("(report)"), true};
        rows << BenchRow{what + QStringLiteral("peak resident memory"),
                         QStringLiteral("%1 MiB%2")
                             .arg(double(r.peakRssKiB) / 1024.0, 0, 'f', 0)
                             .arg(r.peakReset ? "" : " (the process's)"),
                         QStringLiteral("(report)"), true};
        if (!withClient)
            continue;
        rows << BenchRow{
            what + QStringLiteral("64 MB uploads"),
            QStringLiteral("%1 MB/s (%2 put, %3/%4 back whole, worst %5 s)")
                .arg(r.seconds > 0 ? double(r.uploadedBytes) / 1e6 / r.seconds : 0.0, 0, 'f', 1)
                .arg(r.uploads)
                .arg(r.downloadsWhole)
                .arg(r.downloads)
                .arg(double(r.worstUploadMs) / 1000.0, 0, 'f', 1),
            QStringLiteral("(report)"), ok && r.uploads > 0 && r.downloadsWhole == r.downloads};
        rows << BenchRow{what + QStringLiteral("lists, removals, logins"),
                         QStringLiteral("%1 lists, %2 removed, %3 logins (worst %4 ms)")
                             .arg(r.lists)
                             .arg(r.deletes)
                             .arg(r.logins)
                             .arg(r.worstLoginMs),
                         QStringLiteral("(report)"), ok && r.logins > 0};
    }
    return rows;
}
