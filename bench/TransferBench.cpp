// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the transfer engine over virtual null-modems and prints one table:
// line efficiency at each speed (and through a ser2net device server), the
// longest stall of a 1 ms timer on the session's thread, the change-over
// between two files of a batch, raw engine throughput with peak memory over
// an unpaced line, the tape protocol, drip feeds, and the service with many
// lines at once, and beside it the office view at work.
#include "BenchRow.h"
#include "FeedBench.h"
#include "OfficeBench.h"
#include "ServeBench.h"
#include "TapeBench.h"
#include "cli/CliHost.h"
#include "cli/ProgressReporter.h"
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "transfer/SimulatedController.h"
#include "transfer/TransferSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

using namespace tapeway;

namespace {

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop until the condition holds or the time is up.
bool RunUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(1);
    if (!condition())
        loop.exec();
    return condition();
}

QByteArray Pattern(qint64 size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    quint32 x = 2463534242u ^ seed;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = char(x);
    }
    return data;
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool SameFiles(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    }
    return true;
}

// The longest gap between ticks of a 1 ms timer while it is on.
struct StallProbe
{
    QTimer timer;
    qint64 lastNs = 0;
    qint64 longestNs = 0;
    StallProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = NowNs();
            if (lastNs > 0)
                longestNs = std::max(longestNs, now - lastNs);
            lastNs = now;
        });
    }
    void Start()
    {
        lastNs = 0;
        longestNs = 0;
        timer.start();
    }
    double StopMs()
    {
        timer.stop();
        return double(longestNs) / 1e6;
    }
};

// Our send on end A, our receive (or the simulated controller) on end B.
struct Pair
{
    VirtualNullModem modem;
    ProgressReporter quiet{ProgressReporter::Style::Silent};
    SerialPort sendPort, receivePort;
    CliHost sendHost{quiet}, receiveHost{quiet};
    TransferSession sender{sendPort, sendHost};
    TransferSession receiver{receivePort, receiveHost};
    std::atomic<qint64> firstSendNs{0};
    std::atomic<qint64> markIndex{-1}; // sender byte whose pickup time is wanted
    std::atomic<qint64> markNs{0};

    explicit Pair(bool paced)
    {
        modem.SetPaced(paced);
        if (!modem.Start())
            qFatal("null-modem: %s", qPrintable(modem.LastError()));
        modem.SetTap(VirtualNullModem::AToB, [this](quint8&, qint64 index) {
            if (index == 0)
                firstSendNs = NowNs();
            if (index == markIndex.load())
                markNs = NowNs();
            return true;
        });
        sendHost.SetSession(&sender);
        receiveHost.SetSession(&receiver);
        QObject::connect(&sendPort, &SerialPort::OnComm, &sender, &TransferSession::OnComm);
        QObject::connect(&receivePort, &SerialPort::OnComm, &receiver, &TransferSession::OnComm);
    }
    ~Pair()
    {
        sender.CancelTransfer();
        receiver.CancelTransfer();
        sendPort.SetPortOpen(false);
        receivePort.SetPortOpen(false);
        modem.Stop();
    }

    void StartSend(const QStringList& files, int baud, const QString& portName = {})
    {
        CliHost::Options options;
        options.link.portName = portName.isEmpty() ? modem.PortA() : portName;
        options.baudText = QString::number(baud);
        options.files = files;
        options.printResults = false;
        sendHost.Configure(options);
        sender.StartTransfer();
    }
    void StartReceive(const QString& target)
    {
        CliHost::Options options;
        options.receive = true;
        options.link.portName = modem.PortB();
        options.target = target;
        options.overwrite = true;
        options.printResults = false;
        receiveHost.Configure(options);
        receiver.StartTransfer();
    }
};

// How a device server is set up for a row.
enum class Server
{
    None,
    Ser2Net,           // ser2net with its default settings
    Ser2NetNoCharDelay // chardelay off: ser2net passes bytes on at once
};

// ser2net serving a serial device on a free localhost port as RFC 2217; the
// port name to reach it, empty (and why) when it cannot be started.
QString StartSer2Net(QProcess& server, const QString& dir, const QString& device, Server kind,
                     QString* why)
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (program.isEmpty()) {
        *why = QStringLiteral("not run: ser2net is not installed");
        return {};
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    const QString config = QDir(dir).filePath(QStringLiteral("ser2net.yaml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QStringLiteral("%YAML 1.1\n---\nconnection: &line\n"
                              "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                              "  connector: serialdev,%2,9600n81,local\n%3")
                   .arg(port)
                   .arg(device, kind == Server::Ser2NetNoCharDelay
                                    ? QStringLiteral("  options:\n    chardelay: false\n")
                                    : QString())
                   .toUtf8());
    file.close();
    server.start(program,
                 {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config});
    // Listening once a connection is accepted; the probe goes at once.
    const bool up = RunUntil(
        [&] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(50);
        },
        5000);
    if (!up) {
        *why = QStringLiteral("not run: ser2net did not start");
        return {};
    }
    RunUntil([] { return false; }, 300); // the probe's connection ends at the server
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port);
}

using Row = BenchRow;

// Payload bytes x 10 / baud over the time from the header's first byte to the verified save.
// Through ser2net the sending session reaches its end of the line over RFC 2217.
Row Efficiency(const QString& dir, int baud, qint64 size, double* stallMs,
               Server server = Server::None)
{
    Pair pair(true);
    const QString through = server == Server::Ser2Net ? QStringLiteral("via ser2net, ")
                            : server == Server::Ser2NetNoCharDelay
                                ? QStringLiteral("via ser2net, chardelay off, ")
                                : QString();
    QProcess process;
    QString networkPort;
    if (server != Server::None) {
        QString why;
        networkPort = StartSer2Net(process, dir, pair.modem.PortA(), server, &why);
        if (networkPort.isEmpty())
            return {QStringLiteral("line efficiency %1%2 baud").arg(through).arg(baud), why,
                    QStringLiteral(">= 0.97"), true};
    }
    const QString source = QDir(dir).filePath(QStringLiteral("eff%1.nc").arg(baud));
    const QString target = QDir(dir).filePath(QStringLiteral("eff%1-got.nc").arg(baud));
    WriteFile(source, Pattern(size, quint32(baud)));
    qint64 savedNs = 0;
    bool ok = false;
    QObject::connect(&pair.receiveHost, &CliHost::FileEnded,
                     [&](const QString&, const QString&, bool good) {
                         savedNs = NowNs();
                         ok = good;
                     });
    StallProbe probe;
    pair.StartReceive(target);
    pair.StartSend({source}, baud, networkPort);
    if (stallMs)
        probe.Start();
    RunUntil([&] { return savedNs > 0; }, 120000);
    if (server != Server::None) {
        process.kill();
        process.waitForFinished(5000);
    }
    if (stallMs)
        *stallMs = probe.StopMs();
    ok = ok && SameFiles(source, target);
    const double seconds = double(savedNs - pair.firstSendNs.load()) / 1e9;
    const double limit = double(size) * 10.0 / baud;
    const double efficiency = savedNs > 0 ? limit / seconds : 0.0;
    return {
        QStringLiteral("line efficiency %1%2 baud, %3 KiB").arg(through).arg(baud).arg(size / 1024),
        ok ? QStringLiteral("%1 (%2 s for %3 s)")
                 .arg(efficiency, 0, 'f', 3)
                 .arg(seconds, 0, 'f', 2)
                 .arg(limit, 0, 'f', 2)
           : QStringLiteral("FAILED"),
        QStringLiteral(">= 0.97"), ok && efficiency >= 0.97};
}

// Two files to a controller that asks for the next header at once.
void ChangeOver(const QString& dir, Row* changeOver, Row* stall)
{
    Pair pair(true);
    constexpr int kSize = 4096;
    constexpr int kBaud = 38400;
    const QStringList files = {QDir(dir).filePath(QStringLiteral("co1.nc")),
                               QDir(dir).filePath(QStringLiteral("co2.nc"))};
    WriteFile(files[0], Pattern(kSize, 1));
    WriteFile(files[1], Pattern(kSize, 2));
    // The header of file 2 follows the header and four packets of file 1.
    pair.markIndex = 17 + 3 * (kBlockSize + 1) + (kBlockSize + 5);
    SimulatedController controller(pair.modem.PortB());
    qint64 firstDoneNs = 0;
    int received = 0;
    QObject::connect(&controller, &SimulatedController::FileReceived,
                     [&](const QString&, const QByteArray&) {
                         if (received++ == 0)
                             firstDoneNs = NowNs();
                     });
    controller.ReceiveFiles(QDir(dir).filePath(QStringLiteral("controller")), 2);
    StallProbe probe;
    pair.StartSend(files, kBaud);
    probe.Start();
    RunUntil([&] { return received == 2 && pair.sendHost.IsFinished(); }, 60000);
    const double stallMs = probe.StopMs();
    const bool ok = received == 2 && pair.markNs.load() > firstDoneNs && firstDoneNs > 0;
    const double ms = double(pair.markNs.load() - firstDoneNs) / 1e6;
    *changeOver = {QStringLiteral("batch change-over (last byte -> next header)"),
                   ok ? QStringLiteral("%1 ms").arg(ms, 0, 'f', 1) : QStringLiteral("FAILED"),
                   QStringLiteral("(report)"), ok};
    *stall = {QStringLiteral("UI stall across a batch change-over"),
              QStringLiteral("%1 ms").arg(stallMs, 0, 'f', 1), QStringLiteral("< 20 ms"),
              stallMs < 20.0};
}

// An unpaced line: how fast the engine itself goes, and its memory.
void RawThroughput(const QString& dir, qint64 size, Row* rate, Row* memory)
{
    const QString source = QDir(dir).filePath(QStringLiteral("raw.nc"));
    const QString target = QDir(dir).filePath(QStringLiteral("raw-got.nc"));
    {
        // Written in pieces so that the bench itself does not hold the file.
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        for (qint64 done = 0; done < size;) {
            const qint64 piece = std::min<qint64>(size - done, 1 << 20);
            file.write(Pattern(piece, quint32(done)));
            done += piece;
        }
    }
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    Pair pair(false);
    qint64 savedNs = 0;
    bool ok = false;
    QObject::connect(&pair.receiveHost, &CliHost::FileEnded,
                     [&](const QString&, const QString&, bool good) {
                         savedNs = NowNs();
                         ok = good;
                     });
    pair.StartReceive(target);
    // The announced speed only sets the pseudo-terminal's nominal rate here.
    pair.StartSend({source}, 38400);
    RunUntil([&] { return savedNs > 0; }, 600000);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    // The sender's own "Complete" waits for the nominal wire time; the
    // receiver's verified save is the end that counts here.
    pair.sender.CancelTransfer();
    ok = ok && SameFiles(source, target);
    const double seconds = double(savedNs - pair.firstSendNs.load()) / 1e9;
    const double mib = double(size) / (1024.0 * 1024.0);
    *rate = {
        QStringLiteral("raw engine throughput, unpaced, %1 MB").arg(size / 1000000),
        ok ? QStringLiteral("%1 MiB/s (%2 s)").arg(mib / seconds, 0, 'f', 2).arg(seconds, 0, 'f', 1)
           : QStringLiteral("FAILED"),
        QStringLiteral("(report)"), ok};
    const double peakMiB = double(after.ru_maxrss) / 1024.0; // kilobytes on Linux
    const double limitMiB = 2.5 * mib + 50.0;
    *memory = {QStringLiteral("peak resident memory, both ends"),
               QStringLiteral("%1 MiB (%2 MiB before)")
                   .arg(peakMiB, 0, 'f', 1)
                   .arg(double(before.ru_maxrss) / 1024.0, 0, 'f', 1),
               QStringLiteral("< %1 MiB").arg(limitMiB, 0, 'f', 0), peakMiB < limitMiB};
    QFile::remove(source);
    QFile::remove(target);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QList<Row> rows;
    // "tapeway-bench serve": the service rows only; "--lines": only the
    // 38400-baud efficiency, on the local line and through ser2net.
    const bool serveOnly = argc > 1 && QByteArray(argv[1]) == "serve";
    const bool linesOnly = argc > 1 && QByteArray(argv[1]) == "--lines";
    // "tape": the tape protocol's rows only.
    const bool tapeOnly = argc > 1 && QByteArray(argv[1]) == "tape";
    // "feed": the drip feed's rows only; "feed --full" feeds the whole
    // 500 MB program, which the line's speed makes a matter of hours.
    const bool feedOnly = argc > 1 && QByteArray(argv[1]) == "feed";
    const bool feedFull = feedOnly && argc > 2 && QByteArray(argv[2]) == "--full";
    // "office [--seconds S]": the service with its office view, idle and
    // then busy, S seconds each (default 60).
    const bool officeOnly = argc > 1 && QByteArray(argv[1]) == "office";
    int officeSeconds = 60;
    if (officeOnly && argc > 3 && QByteArray(argv[2]) == "--seconds")
        officeSeconds = std::max(5, QByteArray(argv[3]).toInt());
    if (officeOnly) {
        std::fprintf(stderr, "Running (about %d s)...\n", 2 * officeSeconds + 40);
        const QList<Row> office = OfficeRows(dir.path(), officeSeconds);
        bool met = true;
        std::printf("%-62s  %-52s  %-10s  %s\n", "measure", "result", "target", "met");
        for (const Row& row : office) {
            std::printf("%-62s  %-52s  %-10s  %s\n", qPrintable(row.what), qPrintable(row.value),
                        qPrintable(row.target), row.met ? "yes" : "NO");
            met = met && row.met;
        }
        std::printf(
            "\nEach run: %d s of 8 machines punching 64 KiB programs at 38400 baud to the "
            "service;\n"
            "\"busy\": an office client meanwhile puts 64 MB programs into M0's outbox, fetches\n"
            "them back, lists folders and the status, removes them, and logs in every 3 s.\n"
            "  line efficiency: a received file's time on the wire over the time it took (the\n"
            "    header's 17 bytes at 9600 baud added), the worst file of every line.\n"
            "  service loop late: how much later than 1 ms a precise timer on the service's\n"
            "    thread (lines and desk; the web server has its own) fired; the worst tick and the "
            "99.9th "
            "percentile.\n"
            "  CPU: user and system time over the run per second of it: the whole process, the\n"
            "    service's thread, the client's thread, the machines' and the rack's threads.\n"
            "  peak resident memory: the process's VmHWM, reset before each run.\n"
            "  uploads: bytes of programs put (201) per second of the run.\n",
            officeSeconds);
        return met ? 0 : 1;
    }
    std::fprintf(stderr, "Running (about %s)...\n",
                 feedFull                                         ? "13 hours"
                 : serveOnly || linesOnly || tapeOnly || feedOnly ? "two minutes"
                                                                  : "eight minutes");

    if (!serveOnly && !linesOnly && !feedOnly) {
        // The tape protocol: a reader that never says XOFF (the line's
        // character rate, bits per character counted), and one that holds
        // the line every 256 characters (what still reaches it after XOFF).
        for (const auto& [baud, frame] : {std::pair{9600, "7E2"}, std::pair{38400, "8N1"}}) {
            const int kib = baud / 400; // about 25 s each
            const TapeBenchResult r =
                RunTapeBench(dir.path(), baud, QString::fromLatin1(frame), kib * 1024, 0, 0);
            rows << Row{
                QStringLiteral("tape send efficiency %1 %2, %3 KiB").arg(baud).arg(frame).arg(kib),
                r.whole ? QStringLiteral("%1 (%2 s for %3 s)")
                              .arg(r.efficiency, 0, 'f', 4)
                              .arg(r.seconds, 0, 'f', 2)
                              .arg(r.limitSeconds, 0, 'f', 2)
                        : QStringLiteral("FAILED: ") + r.failure,
                QStringLiteral(">= 0.995"), r.whole && r.efficiency >= 0.995};
        }
        for (const int baud : {9600, 38400}) {
            const TapeBenchResult r =
                RunTapeBench(dir.path(), baud, QStringLiteral("7E2"), 32 * 1024, 256, 20);
            rows << Row{QStringLiteral("tape: most characters after XOFF at %1 7E2").arg(baud),
                        r.whole ? QStringLiteral("%1 (%2 holds)").arg(r.mostAfterXoff).arg(r.holds)
                                : QStringLiteral("FAILED: ") + r.failure,
                        QStringLiteral("<= 24"), r.whole && r.mostAfterXoff <= 24};
        }
    }
    if (!serveOnly && !linesOnly && !tapeOnly)
        rows << FeedRows(dir.path(), feedFull);
    if (tapeOnly || feedOnly) {
    } else if (linesOnly) {
        rows << Efficiency(dir.path(), 38400, 64 * 1024, nullptr);
        rows << Efficiency(dir.path(), 38400, 64 * 1024, nullptr, Server::Ser2Net);
        rows << Efficiency(dir.path(), 38400, 64 * 1024, nullptr, Server::Ser2NetNoCharDelay);
    } else if (!serveOnly) {
        // The memory figure is a process peak: the 50 MB run goes first, before
        // anything else has grown the heap.
        Row rate, memory;
        RawThroughput(dir.path(), 50000000, &rate, &memory);
        double stall38400 = 0;
        rows << Efficiency(dir.path(), 9600, 16 * 1024, nullptr);
        rows << Efficiency(dir.path(), 19200, 32 * 1024, nullptr);
        rows << Efficiency(dir.path(), 38400, 64 * 1024, &stall38400);
        rows << Efficiency(dir.path(), 38400, 64 * 1024, nullptr, Server::Ser2Net);
        rows << Efficiency(dir.path(), 38400, 64 * 1024, nullptr, Server::Ser2NetNoCharDelay);
        rows << Row{QStringLiteral("UI stall during a 38400-baud transfer"),
                    QStringLiteral("%1 ms").arg(stall38400, 0, 'f', 1), QStringLiteral("< 20 ms"),
                    stall38400 < 20.0};
        Row changeOver, stall;
        ChangeOver(dir.path(), &changeOver, &stall);
        rows << stall << changeOver << rate << memory;
    }

    // The service: 8, 32 and 64 packet lines at 38400 baud, 64 tape lines at 9600.
    if (!linesOnly && !tapeOnly && !feedOnly)
        rows << ServeRows(dir.path());

    bool all = true;
    std::printf("%-62s  %-44s  %-12s  %s\n", "measure", "result", "target", "met");
    for (const Row& row : rows) {
        std::printf("%-62s  %-44s  %-12s  %s\n", qPrintable(row.what), qPrintable(row.value),
                    qPrintable(row.target), row.met ? "yes" : "NO");
        all = all && row.met;
    }
    return all ? 0 : 1;
}
