// SPDX-License-Identifier: GPL-3.0-or-later
#include "TapeBench.h"

#include "cli/CliHost.h"
#include "cli/ProgressReporter.h"
#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "transfer/Frame.h"
#include "transfer/TapeSender.h"
#include "transfer/TransferSession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <chrono>

using namespace tapeway;

namespace {

qint64 Now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QByteArray Program(qint64 size)
{
    QByteArray text = "%\nO0001 (BENCH)\n";
    for (int n = 1; text.size() < size - 8; ++n)
        text += "N" + QByteArray::number(n) + " G01 X" + QByteArray::number(n % 997) + ".125 Y-" +
                QByteArray::number(n % 499) + ".5 F200\n";
    return text + "M30\n%\n";
}

} // namespace

TapeBenchResult RunTapeBench(const QString& dir, int baud, const QString& frame, qint64 size,
                             int xoffEvery, int holdMs)
{
    TapeBenchResult result;
    TapeProfile profile;
    profile.name = QStringLiteral("Bench");
    profile.baud = baud;
    profile.SetFrame(frame);
    const QByteArray file = Program(size);
    QByteArray wire;
    {
        TapeSender sender(profile);
        sender.AddSource(file);
        sender.EndOfSource();
        wire = sender.Take(1 << 30);
    }
    const QString path = QDir(dir).filePath(QStringLiteral("tape%1.nc").arg(baud));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) {
        result.failure = QStringLiteral("cannot write ") + path;
        return result;
    }
    out.close();

    VirtualNullModem modem;
    modem.SetPaced(true);
    const UartModel::Frame wireFrame = *UartModel::Frame::Parse(frame);
    modem.SetFrame(VirtualNullModem::AToB, wireFrame);
    modem.SetFrame(VirtualNullModem::BToA, wireFrame);
    std::atomic<qint64> firstNs{0}, lastNs{0};
    const qint64 lastIndex = wire.size() - 1;
    modem.SetTap(VirtualNullModem::AToB, [&](quint8&, qint64 index) {
        if (index == 0)
            firstNs = Now();
        if (index == lastIndex)
            lastNs = Now();
        return true;
    });
    if (!modem.Start()) {
        result.failure = modem.LastError();
        return result;
    }

    // The reader: every byte taken at once; an XOFF every xoffEvery characters.
    SerialPort reader;
    reader.SetCommPort(modem.PortB());
    if (!reader.SetPortOpen(true) || !reader.SetSettings(QStringLiteral("%1,N,8,1").arg(baud))) {
        result.failure = reader.LastError();
        return result;
    }
    QByteArray got;
    qint64 nextXoff = xoffEvery;
    bool holding = false;
    QObject::connect(&reader, &SerialPort::OnComm, [&] {
        got += reader.GetInput();
        if (xoffEvery <= 0 || holding || got.size() < nextXoff)
            return;
        holding = true;
        ++result.holds;
        SendControlByte(reader, kDC3);
        QTimer::singleShot(holdMs, &reader, [&] {
            SendControlByte(reader, kDC1);
            holding = false;
            nextXoff = got.size() + xoffEvery;
        });
    });

    ProgressReporter quiet{ProgressReporter::Style::Silent};
    SerialPort port;
    CliHost host{quiet};
    TransferSession session{port, host};
    host.SetSession(&session);
    QObject::connect(&port, &SerialPort::OnComm, &session, &TransferSession::OnComm);
    CliHost::Options options;
    options.link.portName = modem.PortA();
    options.tape = profile;
    options.files = {path};
    options.printResults = false;
    host.Configure(options);
    session.StartTransfer();

    QEventLoop loop;
    QTimer poll;
    QDeadlineTimer deadline(std::chrono::minutes(5));
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if ((!session.IsActive() && got.size() >= wire.size()) || deadline.hasExpired())
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    session.CancelTransfer();
    port.SetPortOpen(false);
    reader.SetPortOpen(false);
    modem.Stop();

    result.whole = got == wire;
    if (!result.whole)
        result.failure =
            QStringLiteral("%1 of %2 characters arrived as sent").arg(got.size()).arg(wire.size());
    result.seconds = double(lastNs.load() - firstNs.load()) / 1e9;
    // The last character's own time is in the limit: the tap sees it start.
    result.limitSeconds = double(wire.size() - 1) * profile.BitsPerCharacter() / baud;
    result.efficiency = result.seconds > 0 ? result.limitSeconds / result.seconds : 0.0;
    result.mostAfterXoff = modem.MostCharactersAfterXoff(VirtualNullModem::AToB);
    return result;
}
