// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/DemoCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/SignalNotifier.h"
#include "transfer/SimulatedController.h"
#include "transfer/TransferSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>

namespace tapeway {

namespace {

constexpr int kDeadlineMs = 180000;

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int DemoCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("demo"),
                     QStringLiteral("Shows the main job without hardware: two sample part "
                                    "programs go to a simulated controller over a paced "
                                    "null-modem and one comes back, at 38400 baud; every byte is "
                                    "checked and each time is set against the line's limit."));
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;

    DemoCommand demo(line.Language());
    if (!demo.Prepare())
        return demo.m_status;
    SignalNotifier interrupts;
    QObject::connect(&interrupts, &SignalNotifier::Interrupted, &demo.m_host, &CliHost::Interrupt);
    QTimer::singleShot(0, &demo, &DemoCommand::StartSending);
    return QCoreApplication::exec();
}

DemoCommand::DemoCommand(int language) : m_language(language), m_host(m_progress)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("the demo did not finish in time")); });
}

DemoCommand::~DemoCommand()
{
    m_controller.reset();
    m_session.reset();
    m_port.SetPortOpen(false);
    m_modem.Stop();
}

bool DemoCommand::Prepare()
{
    m_status = kExitFailed;
    m_names = {QStringLiteral("O0001.nc"), QStringLiteral("O0002.nc")};
    const QDir appDir(QCoreApplication::applicationDirPath());
    for (const QString& name : m_names) {
        // Built in; a copy next to the program or in its share folder also does.
        QByteArray data;
        for (const QString& path :
             {QStringLiteral(":/samples/") + name,
              appDir.filePath(QStringLiteral("samples/") + name),
              appDir.filePath(QStringLiteral("../share/tapeway/samples/") + name)}) {
            data = ReadAll(path);
            if (!data.isEmpty())
                break;
        }
        if (data.isEmpty()) {
            Console::Err(QStringLiteral("demo: the sample %1 is missing").arg(name));
            m_status = kExitLocalFile;
            return false;
        }
        m_samples.append(data);
        QFile out(QDir(m_dir.path()).filePath(name));
        if (!m_dir.isValid() || !out.open(QIODevice::WriteOnly) || out.write(data) != data.size()) {
            Console::Err(QStringLiteral("demo: cannot write to the temporary folder"));
            m_status = kExitLocalFile;
            return false;
        }
    }
    m_modem.SetPaced(true);
    if (!m_modem.Start()) {
        Console::Err(QStringLiteral("demo: null-modem: %1").arg(m_modem.LastError()));
        m_status = kExitPort;
        return false;
    }
    const auto tap = [this](VirtualNullModem::Direction direction) {
        return [this, direction](quint8&, qint64) {
            if (m_armed.load() == int(direction)) {
                qint64 expected = 0;
                m_firstByteNs.compare_exchange_strong(expected, NowNs());
            }
            return true;
        };
    };
    m_modem.SetTap(VirtualNullModem::AToB, tap(VirtualNullModem::AToB));
    m_modem.SetTap(VirtualNullModem::BToA, tap(VirtualNullModem::BToA));

    m_session = std::make_unique<TransferSession>(m_port, m_host);
    m_host.SetSession(m_session.get());
    connect(&m_port, &SerialPort::OnComm, m_session.get(), &TransferSession::OnComm);
    connect(&m_host, &CliHost::Finished, this, &DemoCommand::OnHostFinished);
    connect(&m_host, &CliHost::FileEnded, this, &DemoCommand::OnFileEnded);
    connect(&m_host, &CliHost::FileStarted, this,
            [this] { Arm(m_phase == 1 ? VirtualNullModem::AToB : VirtualNullModem::BToA); });
    m_controller = std::make_unique<SimulatedController>(m_modem.PortB());
    connect(m_controller.get(), &SimulatedController::FileReceived, this,
            [this](const QString&, const QByteArray& data) { m_controllerGot.append(data); });
    connect(m_controller.get(), &SimulatedController::Finished, this, [this] {
        m_controllerDone = true;
        MaybeFinishSending();
    });
    connect(m_controller.get(), &SimulatedController::Failed, this,
            [this](const QString& reason) { Fail(QStringLiteral("controller: ") + reason); });

    Console::Out(QStringLiteral("TAPEWAY demo: our engine on %1, the simulated controller on %2, "
                                "a paced null-modem between them.")
                     .arg(m_modem.PortA(), m_modem.PortB()));
    m_status = kExitDone;
    return true;
}

void DemoCommand::Arm(VirtualNullModem::Direction direction)
{
    m_firstByteNs = 0;
    m_armed = int(direction);
}

double DemoCommand::SecondsSinceArmed() const
{
    const qint64 first = m_firstByteNs.load();
    return first > 0 ? double(NowNs() - first) / 1e9 : 0.0;
}

void DemoCommand::StartSending()
{
    m_deadline.start(kDeadlineMs);
    m_phase = 1;
    Console::Out(QStringLiteral("1. Sending %1 to the controller at %2 baud.")
                     .arg(m_names.join(QStringLiteral(" and ")))
                     .arg(kBaud));
    if (!m_controller->ReceiveFiles(QDir(m_dir.path()).filePath(QStringLiteral("controller")),
                                    int(m_names.size())))
        return; // Failed has been reported
    CliHost::Options options;
    options.receive = false;
    options.language = m_language;
    options.link.portName = m_modem.PortA();
    options.baudText = QString::number(kBaud);
    for (const QString& name : m_names)
        options.files << QDir(m_dir.path()).filePath(name);
    options.printResults = false;
    m_host.Configure(options);
    m_session->StartTransfer();
}

void DemoCommand::StartReceiving()
{
    m_phase = 2;
    const QString name = m_names.first();
    Console::Out(QStringLiteral("2. Receiving %1 back from the controller at %2 baud.")
                     .arg(name)
                     .arg(kBaud));
    if (!m_controller->SendFiles(QList<QByteArray>{m_samples.first()}, kBaud))
        return;
    QDir(m_dir.path()).mkpath(QStringLiteral("received"));
    CliHost::Options options;
    options.receive = true;
    options.language = m_language;
    options.link.portName = m_modem.PortA();
    options.target = QDir(m_dir.path()).filePath(QStringLiteral("received/") + name);
    options.printResults = false;
    m_host.Configure(options);
    m_hostDone = false;
    m_session->StartTransfer();
}

void DemoCommand::OnFileEnded(const QString& path, const QString& outcome, bool ok)
{
    const double seconds = SecondsSinceArmed();
    m_armed = -1;
    Leg leg;
    leg.name = QFileInfo(path).fileName();
    leg.sent = m_phase == 1;
    leg.seconds = seconds;
    if (!ok) {
        Fail(QStringLiteral("%1: %2").arg(leg.name, outcome));
        return;
    }
    if (m_phase == 1) {
        leg.bytes = m_samples.value(int(m_legs.size())).size();
    } else {
        const QByteArray got = ReadAll(path);
        leg.bytes = got.size();
        leg.verified = got == m_samples.first();
    }
    m_legs.append(leg);
}

void DemoCommand::OnHostFinished(int status)
{
    if (m_concluded)
        return;
    if (status != kExitDone) {
        if (status == kExitCancelled) {
            m_status = status;
            QCoreApplication::exit(status);
            return;
        }
        Fail(QStringLiteral("the transfer ended with status %1").arg(status));
        return;
    }
    if (m_phase == 1) {
        m_hostDone = true;
        MaybeFinishSending();
    } else if (m_phase == 2) {
        Conclude(!m_legs.isEmpty() && m_legs.last().verified);
    }
}

void DemoCommand::MaybeFinishSending()
{
    if (m_phase != 1 || !m_hostDone || !m_controllerDone)
        return;
    // What the controller stored must be what we sent, byte for byte.
    for (int i = 0; i < m_legs.size(); ++i)
        m_legs[i].verified = m_controllerGot.value(i) == m_samples.value(i);
    QTimer::singleShot(0, this, &DemoCommand::StartReceiving);
}

void DemoCommand::Conclude(bool success)
{
    m_concluded = true;
    m_deadline.stop();
    Console::Out(QString());
    Console::Out(QStringLiteral("%1  %2  %3  %4  %5  %6")
                     .arg(QStringLiteral("direction"), -9)
                     .arg(QStringLiteral("file"), -9)
                     .arg(QStringLiteral("bytes"), 6)
                     .arg(QStringLiteral("took"), 7)
                     .arg(QStringLiteral("line limit"), 10)
                     .arg(QStringLiteral("check")));
    bool all = success;
    for (const Leg& leg : m_legs) {
        const double limit = double(leg.bytes) * 10.0 / kBaud;
        all = all && leg.verified;
        Console::Out(QStringLiteral("%1  %2  %3  %4 s  %5 s  %6")
                         .arg(leg.sent ? QStringLiteral("sent") : QStringLiteral("received"), -9)
                         .arg(leg.name, -9)
                         .arg(leg.bytes, 6)
                         .arg(leg.seconds, 5, 'f', 2)
                         .arg(limit, 8, 'f', 2)
                         .arg(leg.verified ? QStringLiteral("every byte arrived")
                                           : QStringLiteral("DIFFERENT")));
    }
    Console::Out(all ? QStringLiteral("All transfers verified. The time includes the header, the "
                                      "speed change and every packet request.")
                     : QStringLiteral("A transfer did not arrive intact."));
    m_status = all ? kExitDone : kExitFailed;
    QCoreApplication::exit(m_status);
}

void DemoCommand::Fail(const QString& reason)
{
    if (m_concluded)
        return;
    m_concluded = true;
    m_deadline.stop();
    m_progress.End();
    Console::Err(QStringLiteral("demo: %1").arg(reason));
    m_status = kExitFailed;
    m_session->CancelTransfer();
    m_controller->Stop();
    QCoreApplication::exit(m_status);
}

} // namespace tapeway
