// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LinkSettings.h"
#include "serial/SerialPort.h"
#include "transfer/ReceiveProtocol.h"
#include "transfer/SendProtocol.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class QTimer;

namespace tapeway {

// Faults a simulated controller can put on the line. Offsets count every byte
// it sends in the session (headers, packets and control bytes), from 0; a
// negative value leaves the fault off.
struct ControllerFaults
{
    qint64 dropByteAt = -1;        // this byte is never sent
    qint64 flipByteAt = -1;        // this byte is sent xor 0xFF
    qint64 silentAfter = -1;       // nothing is sent from this offset on
    bool wrongHeaderCheck = false; // every header it sends has 1 added to byte 16
    bool ignoreDC4 = false;        // as sender: stays at 9600 baud after DC4
    int finalDC2DelayMs = 0;       // as receiver: the DC2 after the last packet comes this
                                   // late (a controller storing the program)
};

// Plays a CNC controller on a serial port, for tests and for trying the
// program without a machine. As a sender it answers the receiver's requests
// with the files given; as a receiver it drives the exchange and stores the
// files it gets as O0001.nc, O0002.nc, ... Everything runs on the event loop.
class SimulatedController : public QObject
{
    Q_OBJECT
public:
    explicit SimulatedController(const QString& portName, QObject* parent = nullptr);
    ~SimulatedController() override;

    void SetFaults(const ControllerFaults& faults) { m_faults = faults; }
    // Settings other than the port name (frame format); the port name stays.
    void SetLink(const LinkSettings& link);

    // Opens the port and waits for the receiver's first DC2. The files are
    // read at once; false (and Failed) when one cannot be read or is empty,
    // or when the port does not open. Data is announced at the given speed.
    bool SendFiles(const QStringList& files, int baud);
    bool SendFiles(const QList<QByteArray>& contents, int baud);

    // Opens the port and asks for count files, one after the other, storing
    // them in dir. False (and Failed) when the port does not open.
    bool ReceiveFiles(const QString& dir, int count);

    // Ends the session where it is; the port stays open.
    void Stop();

    bool IsActive() const { return m_mode != Mode::Idle; }
    qint64 BytesSent() const { return m_sentOffset; }
    SerialPort& Port() { return m_port; }

signals:
    void FileSent(int index);
    void FileReceived(const QString& path, const QByteArray& data);
    void Failed(const QString& reason);
    void Finished();

private:
    enum class Mode
    {
        Idle,
        Sending,
        Receiving
    };

    bool OpenLine();
    void Fail(const QString& reason);
    void Finish();
    void Transmit(QByteArray bytes, bool isHeader = false);
    void OnComm();
    void OnLineBroken(const QString& reason);

    void StartSendingFile();
    void HandleSendInput(const QByteArray& chunk);
    void HandleReceiveInput(const QByteArray& chunk);
    void StartReceivingFile();
    void SendHeaderRequest();
    void SendReady();
    bool StoreFile(const QByteArray& data, QString* path);

    // Runs next after the bytes written so far have left the line, unless the
    // session changed meanwhile.
    void AfterDrain(std::function<void()> next);

    SerialPort m_port;
    LinkSettings m_link;
    ControllerFaults m_faults;
    Mode m_mode = Mode::Idle;
    quint64 m_session = 0; // bumped by every start and stop
    bool m_busy = false;   // a speed change is under way: input is dropped
    qint64 m_sentOffset = 0;

    // Sending
    QList<QByteArray> m_files;
    int m_baud = 9600;
    int m_fileIndex = 0;
    std::optional<SendProtocol> m_sender;

    // Receiving
    QString m_dir;
    int m_count = 0;
    std::optional<ReceiveProtocol> m_receiver;
    QTimer* m_headerTimer;
    QTimer* m_readyTimer;
};

} // namespace tapeway
