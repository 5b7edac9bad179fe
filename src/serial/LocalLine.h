#pragma once

#include "serial/LineTransport.h"

class QSerialPort;

namespace tapeway {

// A serial device of this machine, over QSerialPort.
//
// DTR and RTS stay low and no flow control is applied. A pseudo-terminal
// refuses the modem-line requests; that is tolerated silently. On Linux the
// driver is asked for its low-latency mode at the open (USB adapters otherwise
// hold received bytes for their latency timer, 16 ms on common chips); a
// driver that refuses is used as it is, and the previous mode is restored at
// the close.
//
// When the device fails (an adapter unplugged, the far end hung up) Broken is
// raised once, so that a failing device does not raise errors again and again.
class LocalLine : public LineTransport
{
    Q_OBJECT
public:
    // device: a path, or a bare name that QSerialPort looks up in /dev.
    explicit LocalLine(const QString& device, QObject* parent = nullptr);
    ~LocalLine() override;

    bool Open(QString* error) override;
    void Close() override;
    bool IsOpen() const override;
    bool SetFormat(const LineFormat& format) override;
    void Write(const QByteArray& bytes) override;
    qint64 BytesAvailable() const override;
    QByteArray ReadAll() override;
    void PurgeInput() override;
    void PurgeOutput() override;
    qint64 BytesQueued() const override;

private:
    void OnError(int error);
    void RequestLowLatency();
    void RestoreLatency();

    QSerialPort* m_port;
    QString m_device;
    bool m_broken = false;
    // Set while requests whose failure is harmless run (modem lines on a
    // pseudo-terminal, a refused frame format): their errors are no break.
    bool m_quietErrors = false;
    // The driver's low-latency flag before the open, when this line changed it.
    bool m_latencyChanged = false;
    bool m_latencyWasLow = false;
};

} // namespace tapeway
