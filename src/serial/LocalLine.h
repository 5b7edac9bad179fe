// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LineTransport.h"

class QSerialPort;

namespace tapeway {

// A serial device of this machine, over QSerialPort.
//
// DTR stays low; so does RTS unless the flow control is RTS/CTS, when the
// driver drives it. A pseudo-terminal refuses the modem-line requests; that is
// tolerated silently.
//
// Two things the line does on the device's terminal settings itself, after
// every change QSerialPort makes (which would undo them):
// - XON/XOFF flow control without IXANY, so that only DC1 restarts output
//   after a DC3 (QSerialPort's software flow control lets any byte do it);
// - with parity in the frame, INPCK and PARMRK without IGNPAR, ISTRIP,
//   IGNBRK and BRKINT, so that a character with a parity or framing error
//   arrives as 0xFF 0x00 c, a break as 0xFF 0x00 0x00 and a real 0xFF as
//   0xFF 0xFF (QSerialPort turns input parity checking off). Without parity
//   the input settings are the ones of the open, untouched.
//
// A pseudo-terminal (told by its device number: the kernel's pty slave
// majors) forces 8 data bits without parity whatever is set, and reports an
// empty output queue however much waits: it takes any data bits and parity
// (its far end, a null-modem, is told the frame some other way) and says that
// it reports no driver queue. On Linux the
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
    bool InputWaiting() const override;
    QByteArray ReadAll() override;
    void PurgeInput() override;
    void PurgeOutput() override;
    qint64 BytesQueued() const override;
    qint64 BytesNotHandedOver() const override;
    bool ReportsDriverQueue() const override;
    bool MarksParityErrors() const override;

private:
    void OnError(int error);
    bool ApplyTerminalSettings(const LineFormat& format);
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
    bool m_pseudoTerminal = false;
    bool m_marksParity = false;
    // The input flags of the terminal settings right after the open (no
    // parity, no flow control), put back when parity leaves the frame.
    quint64 m_plainInputFlags = 0;
    FlowControl m_flow = FlowControl::None;
};

} // namespace tapeway
