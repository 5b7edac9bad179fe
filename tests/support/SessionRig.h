// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"
#include "support/FaultTools.h"
#include "support/RecordingHost.h"
#include "support/WaitFor.h"
#include "transfer/SimulatedController.h"
#include "transfer/TransferSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <memory>

// A transfer session on one end of a paced virtual null-modem, a simulated
// controller on the other, a recording host and a scratch directory.
struct SessionRig
{
    tapeway::VirtualNullModem modem;
    RecordingHost host;
    tapeway::SerialPort port;
    std::unique_ptr<tapeway::TransferSession> session;
    std::unique_ptr<tapeway::SimulatedController> controller;
    QTemporaryDir dir;
    std::atomic<int> sentBySession[256] = {}; // how often the session sent each byte value

    explicit SessionRig(bool paced = true)
    {
        modem.SetPaced(paced);
        if (!modem.Start())
            qFatal("null-modem: %s", qPrintable(modem.LastError()));
        modem.SetTap(tapeway::VirtualNullModem::AToB, [this](quint8& byte, qint64) {
            ++sentBySession[byte];
            return true;
        });
        host.link.portName = modem.PortA();
        session = std::make_unique<tapeway::TransferSession>(port, host);
        QObject::connect(&port, &tapeway::SerialPort::OnComm, session.get(),
                         &tapeway::TransferSession::OnComm);
        tapeway::TransferSession::Timings timings;
        timings.headerRequestMs = 200;
        timings.watchdogMs = 5000; // generous: a loaded machine must not trip it
        session->SetTimings(timings);
        controller = std::make_unique<tapeway::SimulatedController>(modem.PortB());
    }

    ~SessionRig()
    {
        controller.reset();
        session.reset();
        port.SetPortOpen(false);
        modem.Stop();
    }

    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    static QByteArray Pattern(int size, int seed = 1) { return faults::Pattern(size, seed); }
    static QByteArray Read(const QString& path) { return faults::Read(path); }
    static void Write(const QString& path, const QByteArray& data) { faults::Write(path, data); }
    // Files in the temporary directory named like staging files of the stem.
    static QStringList StagingFiles(const QString& stem) { return faults::StagingFiles(stem); }

    bool WaitIdle(int timeoutMs = 30000)
    {
        return WaitFor([this] { return !session->IsActive(); }, timeoutMs);
    }
};
