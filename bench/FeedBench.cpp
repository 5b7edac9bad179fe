// SPDX-License-Identifier: GPL-3.0-or-later
#include "FeedBench.h"

#include "BenchSupport.h"
#include "serial/VirtualNullModem.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

using namespace tapeway;

namespace {

using benchsupport::PeakKib;
using benchsupport::RunUntil;

constexpr qint64 kWriteChunk = 1 << 20;

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A part program as CAM writes it, of about size bytes: numbered blocks of
// about 30 characters, written a megabyte at a time; its SHA-256 into sha.
bool WriteProgram(const QString& path, qint64 size, QByteArray* sha)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk = "%\nO0001 (DRIP FEED BENCH)\nG90 G21 G17\nT1 M06\nS8000 M03\n";
    qint64 written = 0;
    char line[64];
    const qint64 body = size - 12;
    for (qint64 n = 10; written + chunk.size() < body; n += 10) {
        const int length = std::snprintf(
            line, sizeof line, "N%lld G01 X%lld.%03lld Y-%lld.%02lld F%lld\n",
            static_cast<long long>(n), static_cast<long long>(n % 487),
            static_cast<long long>(n % 1000), static_cast<long long>(n % 211),
            static_cast<long long>(n % 100), static_cast<long long>(800 + n % 7 * 100));
        chunk.append(line, length);
        if (chunk.size() >= kWriteChunk) {
            hash.addData(chunk);
            if (file.write(chunk) != chunk.size())
                return false;
            written += chunk.size();
            chunk.clear();
        }
    }
    chunk += "M05\nM30\n%\n";
    hash.addData(chunk);
    if (file.write(chunk) != chunk.size())
        return false;
    *sha = hash.result();
    return true;
}

QByteArray Sha256OfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return hash.addData(&file) ? hash.result() : QByteArray();
}

std::unique_ptr<QProcess> Cli(const QString& home, const QStringList& args)
{
    // The sender's snapshot, journal and settings go into the bench's folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(name),
                           QDir(home).filePath(QString::fromLatin1(name).toLower()));
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setProgram(QStringLiteral(TAPEWAY_CLI_PATH));
    process->setArguments(args);
    process->start();
    process->waitForStarted(10000);
    return process;
}

void End(QProcess& process, int signal)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), signal);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// The reader's closing line: "overruns N, most characters after XOFF M" and,
// with a rate, how long its buffer stood empty.
void ReadFigures(const QString& err, FeedBenchResult* result)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("overruns (\\d+), most characters after XOFF (\\d+)"
                                          "(, buffer empty ([\\d.]+) ms in (\\d+) times)?"))
            .match(err);
    if (!match.hasMatch())
        return;
    result->overruns = match.captured(1).toLongLong();
    result->readerMostAfterXoff = match.captured(2).toLongLong();
    result->readerFilled = match.capturedLength(3) > 0;
    result->emptyMs = match.captured(4).toDouble();
    result->timesRanDry = match.captured(5).toLongLong();
}

} // namespace

FeedBenchResult RunFeedBench(const QString& dir, const FeedBenchSetup& setup)
{
    FeedBenchResult result;
    const QDir root(QDir(dir).filePath(QStringLiteral("feed%1").arg(setup.baud)));
    root.mkpath(QStringLiteral("home"));
    const QString program = root.filePath(QStringLiteral("part.nc"));
    const QString stored = root.filePath(QStringLiteral("in"));
    QByteArray sha;
    if (!WriteProgram(program, setup.programBytes, &sha)) {
        result.failure = QStringLiteral("cannot write ") + program;
        return result;
    }
    result.programBytes = QFile(program).size();

    VirtualNullModem modem;
    modem.SetPaced(setup.paced);
    const std::optional<UartModel::Frame> frame = UartModel::Frame::Parse(setup.frame);
    if (!frame) {
        result.failure = QStringLiteral("no frame ") + setup.frame;
        return result;
    }
    modem.SetFrame(VirtualNullModem::AToB, *frame);
    modem.SetFrame(VirtualNullModem::BToA, *frame);
    std::atomic<qint64> firstNs{0}, lastNs{0};
    std::atomic<int> xoffs{0};
    modem.SetTap(VirtualNullModem::AToB, [&](quint8&, qint64 index) {
        const qint64 now = NowNs();
        if (index == 0)
            firstNs = now;
        lastNs = now;
        return true;
    });
    modem.SetTap(VirtualNullModem::BToA, [&](quint8& byte, qint64) {
        if ((byte & 0x7F) == 0x13)
            ++xoffs;
        return true;
    });
    if (!modem.Start()) {
        result.failure = modem.LastError();
        return result;
    }

    const QString home = root.filePath(QStringLiteral("home"));
    const QStringList line = {QStringLiteral("--protocol"), QStringLiteral("tape"),
                              QStringLiteral("--baud"),     QString::number(setup.baud),
                              QStringLiteral("--frame"),    setup.frame};
    auto reader = Cli(
        home, QStringList{QStringLiteral("controller"), QStringLiteral("--port"), modem.PortB()} +
                  line +
                  QStringList{QStringLiteral("read"), stored, QStringLiteral("--buffer"),
                              QString::number(setup.readerBuffer), QStringLiteral("--rate"),
                              QString::number(setup.readerRate)});
    QString readerErr;
    const auto readerSaid = [&](const QString& text) {
        readerErr += QString::fromUtf8(reader->readAllStandardError());
        return readerErr.contains(text);
    };
    if (!RunUntil([&] { return readerSaid(QStringLiteral("Reading 1 program")); },
                  QDeadlineTimer(10000))) {
        result.failure = QStringLiteral("the reader did not start: ") + readerErr;
        return result;
    }

    auto sender =
        Cli(home, QStringList{QStringLiteral("send"), QStringLiteral("--port"), modem.PortA()} +
                      line + QStringList{program});
    const qint64 senderPid = sender->processId();
    qint64 peak = 0;
    const auto senderDone = [&] {
        const qint64 now = PeakKib(senderPid);
        if (now > 0)
            peak = now;
        return sender->state() == QProcess::NotRunning;
    };
    // Reading a whole file at its start may take the sender a while.
    RunUntil([&] { return senderDone() || firstNs.load() != 0; }, QDeadlineTimer(180000));
    if (firstNs.load() == 0) {
        result.failure = QStringLiteral("nothing reached the line: ") +
                         QString::fromUtf8(sender->readAllStandardError()).trimmed();
        End(*sender, SIGINT);
        End(*reader, SIGTERM);
        return result;
    }
    const qint64 windowNs = qint64(setup.windowSeconds) * 1000000000;
    const auto windowOver = [&] { return windowNs > 0 && NowNs() - firstNs.load() >= windowNs; };
    // A feed to its end: about the line's time for the program, and then some.
    const qint64 lineMs = result.programBytes * 12 * 1000 / setup.baud;
    RunUntil([&] { return senderDone() || windowOver(); },
             QDeadlineTimer(windowNs > 0 ? windowNs / 1000000 + 5000 : lineMs * 2 + 60000));
    senderDone();
    result.senderPeakKib = peak;
    result.wireCharacters = modem.BytesForwarded(VirtualNullModem::AToB);
    result.seconds = double(lastNs.load() - firstNs.load()) / 1e9;
    const double lineRate = double(setup.baud) / frame->BitsPerCharacter();
    result.lineFraction =
        result.seconds > 0 ? double(result.wireCharacters) / result.seconds / lineRate : 0.0;

    if (sender->state() == QProcess::NotRunning) {
        // The reader stores the program once it has all of it.
        RunUntil([&] { return reader->state() == QProcess::NotRunning; }, QDeadlineTimer(30000));
        const QString got = QDir(stored).filePath(QStringLiteral("O0001.nc"));
        result.finished = sender->exitStatus() == QProcess::NormalExit && sender->exitCode() == 0 &&
                          QFile::exists(got);
        result.whole = result.finished && Sha256OfFile(got) == sha;
        if (!result.finished)
            result.failure = QStringLiteral("the feed did not complete: ") +
                             QString::fromUtf8(sender->readAllStandardError()).trimmed();
        else if (!result.whole)
            result.failure = QStringLiteral("the stored program is not the file");
    } else {
        End(*sender, SIGINT);
    }
    End(*reader, SIGTERM);
    readerErr += QString::fromUtf8(reader->readAllStandardError());
    ReadFigures(readerErr, &result);
    result.xoffs = xoffs;
    result.mostAfterXoff = modem.MostCharactersAfterXoff(VirtualNullModem::AToB);
    result.mostXonAnswerUs = modem.MostXonAnswerUs(VirtualNullModem::AToB);
    modem.Stop();
    QFile::remove(program);
    return result;
}

QList<BenchRow> FeedRows(const QString& dir, bool full)
{
    QList<BenchRow> rows;
    // A 500 MB program to a reader that takes every character at once. A
    // tape send keeps to the line's speed whatever the line (what it has
    // handed over is counted by the speed and frame), so even unpaced it
    // takes hours at 115200: the sender's memory and rate are read over the
    // first 30 s of the feed, the whole program only with "feed --full".
    FeedBenchSetup big;
    big.programBytes = 500000000;
    big.windowSeconds = full ? 0 : 30;
    const FeedBenchResult r = RunFeedBench(dir, big);
    const bool ran = r.wireCharacters > 0;
    const QString what = QStringLiteral("feed 500 MB, unpaced 115200 8N1: ");
    rows << BenchRow{what + QStringLiteral("sender peak memory"),
                     ran ? QStringLiteral("%1 MB (%2 s fed)")
                               .arg(double(r.senderPeakKib) / 1024.0, 0, 'f', 1)
                               .arg(r.seconds, 0, 'f', 0)
                         : QStringLiteral("FAILED: ") + r.failure,
                     QStringLiteral("< 64 MB"), ran && r.senderPeakKib < 64 * 1024};
    rows << BenchRow{what + QStringLiteral("throughput"),
                     QStringLiteral("%1 MB/s (%2 of the line)")
                         .arg(double(r.wireCharacters) / 1e6 / std::max(r.seconds, 1e-9), 0, 'f', 4)
                         .arg(r.lineFraction, 0, 'f', 3),
                     QStringLiteral(">= 0.97 line"), ran && r.lineFraction >= 0.97};
    rows << BenchRow{
        what + QStringLiteral("program whole (SHA-256)"),
        full ? (r.whole ? QStringLiteral("yes") : QStringLiteral("FAILED: ") + r.failure)
             : QStringLiteral("%1 MB fed; feed --full")
                   .arg(double(r.wireCharacters) / 1e6, 0, 'f', 2),
        full ? QStringLiteral("whole") : QStringLiteral("(report)"), !full || r.whole};

    // The machine cuts while it reads: 90 % of the line's character rate
    // out of a 256-character buffer, DC3 and DC1 at the controller's fills.
    FeedBenchSetup paced;
    paced.programBytes = 200000;
    paced.baud = 38400;
    paced.frame = QStringLiteral("7E2");
    paced.paced = true;
    paced.readerRate = 38400 / 11 * 9 / 10;
    const FeedBenchResult p = RunFeedBench(dir, paced);
    const QString pacedWhat = QStringLiteral("feed 38400 7E2, reader at 90 %: ");
    rows << BenchRow{pacedWhat + QStringLiteral("empty after 1st fill"),
                     p.readerFilled ? QStringLiteral("%1 ms, %2 times (%3 XOFFs)")
                                          .arg(p.emptyMs, 0, 'f', 1)
                                          .arg(p.timesRanDry)
                                          .arg(p.xoffs)
                                    : QStringLiteral("FAILED: never filled ") + p.failure,
                     QStringLiteral("0 ms"), p.readerFilled && p.timesRanDry == 0};
    rows << BenchRow{
        pacedWhat + QStringLiteral("most after XOFF"),
        QStringLiteral("%1 (reader counted %2)").arg(p.mostAfterXoff).arg(p.readerMostAfterXoff),
        QStringLiteral("<= 24"), p.whole && p.mostAfterXoff <= 24};
    rows << BenchRow{pacedWhat + QStringLiteral("slowest answer to an XON"),
                     QStringLiteral("%1 ms").arg(double(p.mostXonAnswerUs) / 1000.0, 0, 'f', 2),
                     QStringLiteral("<= 5 ms"), p.whole && p.mostXonAnswerUs <= 5000};
    rows << BenchRow{pacedWhat + QStringLiteral("program whole (SHA-256)"),
                     p.whole ? QStringLiteral("yes, %1 overruns").arg(p.overruns)
                             : QStringLiteral("FAILED: ") + p.failure,
                     QStringLiteral("whole"), p.whole && p.overruns == 0};
    return rows;
}
