// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/CliHost.h"
#include "cli/ProgressReporter.h"
#include "serial/SerialPort.h"
#include "serial/VirtualNullModem.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <memory>

namespace tapeway {

class SimulatedController;
class TransferSession;

// "tapeway-cli demo": the main job without hardware. A paced null-modem joins
// the program's own transfer engine to the simulated controller; two sample
// part programs are sent to the controller and one is received back at
// 38400 baud, every byte is compared, and each transfer's time is set
// against the line's limit (payload bytes x 10 / baud).
class DemoCommand : public QObject
{
    Q_OBJECT
public:
    static int Run(const QStringList& args);

    static constexpr int kBaud = 38400;

private:
    struct Leg
    {
        QString name;
        bool sent = true;
        qint64 bytes = 0;
        double seconds = 0;
        bool verified = false;
    };

    explicit DemoCommand(int language);
    ~DemoCommand() override;

    bool Prepare();
    void StartSending();
    void StartReceiving();
    void OnHostFinished(int status);
    void OnFileEnded(const QString& path, const QString& outcome, bool ok);
    void MaybeFinishSending();
    void Conclude(bool success);
    void Fail(const QString& reason);
    void Arm(VirtualNullModem::Direction direction);
    double SecondsSinceArmed() const;

    int m_language;
    ProgressReporter m_progress;
    QTemporaryDir m_dir;
    VirtualNullModem m_modem;
    SerialPort m_port;
    CliHost m_host;
    std::unique_ptr<TransferSession> m_session;
    std::unique_ptr<SimulatedController> m_controller;
    QTimer m_deadline;

    QStringList m_names;
    QList<QByteArray> m_samples;
    QList<QByteArray> m_controllerGot;
    QList<Leg> m_legs;
    int m_phase = 0; // 1 sending, 2 receiving
    bool m_hostDone = false;
    bool m_controllerDone = false;
    int m_status = 0;
    bool m_concluded = false;

    // Set by the modem's thread: when the first byte after Arm left its end.
    std::atomic<int> m_armed{-1};
    std::atomic<qint64> m_firstByteNs{0};
};

} // namespace tapeway
