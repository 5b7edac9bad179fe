// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LineTransport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class QTimer;

namespace tapeway {

// The serial line as the transfer code sees it: the properties of a serial
// communications control, each operation one property read or write. Bytes
// that arrive raise OnComm on the thread that owns the object; GetCommEvent()
// then reads kCommEventReceive.
//
// The port name picks what carries the line: rfc2217://HOST:PORT and
// tcp://HOST:PORT[?baud=N] a serial port on a network device server
// (NetworkLine), anything else a serial device of this machine (LocalLine).
// Nothing outside this facade needs to know which. DTR stays low; RTS too,
// unless the flow control is RTS/CTS (SetHandshaking).
//
// When the line breaks (an adapter unplugged, the far end hung up, the
// connection to a device server lost or never made) the port is closed at the
// first error and LineBroken is raised once, so that a failing device does
// not raise errors again and again.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCommEventReceive = 2;
    // Handshaking values: who holds the output back when the far end cannot
    // take more.
    static constexpr int kHandshakeNone = 0;    // nobody; DC1 and DC3 are data
    static constexpr int kHandshakeXonXoff = 1; // the driver, on DC1/DC3 (it takes them)
    static constexpr int kHandshakeRtsCts = 2;  // the driver, on RTS/CTS

    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    // Port name as chosen in the port box: COMn (on POSIX the n-th serial
    // port, /dev/ttyS(n-1)), a bare device name such as ttyUSB0, a path, or a
    // network port (rfc2217://HOST:PORT, tcp://HOST:PORT?baud=N). Taken at
    // the next open.
    void SetCommPort(const QString& name);
    QString GetCommPort() const { return m_commPort; }

    // "baud,parity letter,data bits,stop bits", e.g. "9600,N,8,1" or
    // "19200,E,7,1.5". Applied at once on an open line, else at the open.
    // False when the text is malformed, the speed is not the line's fixed
    // one, or the open port refuses it.
    bool SetSettings(const QString& settings);
    QString GetSettings() const { return m_settings; }
    int CurrentBaud() const { return m_baud; }

    // The speed the line runs at whatever is asked, taken from the port name
    // (tcp://HOST:PORT?baud=N, 9600 when omitted); 0 when the speed can be set.
    int FixedBaud() const;
    // Whether the line on the current port name can run at the speed: the
    // fixed speed where there is one, else a standard speed of the port layer.
    bool CanSetBaud(int baud) const;

    // Opening: false when the port cannot be opened; LastError() says why.
    // A network port opens at once and connects in the background (at most
    // NetworkLine::kConnectTimeoutMs); bytes written meanwhile wait for the
    // connection. A connection that fails raises LineBroken with the reason.
    bool SetPortOpen(bool open);
    bool GetPortOpen() const;
    QString LastError() const { return m_lastError; }

    void SetInBufferSize(int size) { m_inBufferSize = size; }
    void SetOutBufferSize(int size) { m_outBufferSize = size; }
    // One of the kHandshake values. Applied at once on an open line, else at
    // the open; false for another value, or when the open port refuses it
    // (the previous one then stays).
    bool SetHandshaking(int mode);
    void SetInputMode(int mode) { m_inputMode = mode; }
    void SetRThreshold(int threshold) { m_rThreshold = threshold; }
    void SetSThreshold(int threshold) { m_sThreshold = threshold; }
    void SetInputLen(int length) { m_inputLen = length; }
    int GetInBufferSize() const { return m_inBufferSize; }
    int GetOutBufferSize() const { return m_outBufferSize; }
    int GetHandshaking() const { return m_handshaking; }
    int GetInputMode() const { return m_inputMode; }
    int GetRThreshold() const { return m_rThreshold; }
    int GetSThreshold() const { return m_sThreshold; }
    int GetInputLen() const { return m_inputLen; }

    // 0 discards every byte waiting to be read (SetInBufferCount) or not yet
    // transmitted (SetOutBufferCount). No other value is written.
    void SetInBufferCount(int count);
    void SetOutBufferCount(int count);
    int GetInBufferCount() const;
    // Whether bytes have arrived that OnComm has not yet handed over, those
    // the system still holds included: a sender that must stop on the far
    // end's XOFF reads them before it writes more.
    bool InputWaiting() const;

    // Takes every waiting byte.
    QByteArray GetInput();
    // Queues the bytes for transmission and returns at once.
    void SetOutput(const QByteArray& bytes);

    int GetCommEvent() const { return m_commEvent; }

    // Calls done once every byte written so far has left the line: the
    // output queues are empty (on a network port: the device server has
    // them) and at least their wire time (at the speed and frame they were
    // written with, counted from the moment they were handed over) plus
    // the network's round trip and a small margin has passed, since USB
    // adapters and pseudo-terminals report "drained" early. Never
    // blocks; done runs from the event loop. A later Drain, a close or
    // SetOutBufferCount(0) does not cancel it: callers guard their own state.
    void Drain(std::function<void()> done);

    // Bytes written that have not yet left the wire, as far as can be known:
    // what waits in this program and in the driver (or the network), where
    // the driver reports its output queue (a UART, a USB serial adapter), or
    // the bytes handed over whose wire time at the line's speed and frame
    // has not yet passed, whichever is more. The wire time counts what the
    // hardware holds (the UART's FIFO, a USB adapter's own buffer), which no
    // driver reports; the queue counts what a held line (RTS/CTS, a stopped
    // device server) still keeps. One system call at most: cheap enough for
    // every write.
    qint64 BytesNotOnWire() const;
    // Whether BytesNotOnWire comes from the driver's queue; false when it
    // comes from the wire time, and on a closed line.
    bool DriverReportsQueue() const;
    // Whether characters received with a parity error arrive marked (see
    // LineTransport::MarksParityErrors): on a local line whose frame has
    // parity, never on a network line.
    bool MarksParityErrors() const;
    // What one character of the current frame takes on the wire, in tenths
    // of a bit (8N1 100, 7E2 110).
    int CharacterBitTenths() const { return m_bitTenths; }

    // Wire time of a byte count at a speed, rounded up, in milliseconds or
    // microseconds; bitTenths is a character's length (10 bits unless told).
    static qint64 WireTimeMs(qint64 bytes, int baud, int bitTenths = 100);
    static qint64 WireTimeUs(qint64 bytes, int baud, int bitTenths = 100);

    // What the wire still has to carry, from the line's own speed: the bits
    // of the characters handed over, less what the wire can have carried
    // since. Times are microseconds of any one clock.
    struct WireBacklog
    {
        qint64 bitTenths = 0; // still to go at atUs
        qint64 atUs = 0;

        void Add(qint64 bytes, int characterBitTenths, int baud, qint64 nowUs);
        // The characters not yet wholly on the wire (one under way counts).
        qint64 Characters(int characterBitTenths, int baud, qint64 nowUs) const;
        qint64 BitTenthsLeft(int baud, qint64 nowUs) const;
    };

signals:
    void OnComm();
    void LineBroken(const QString& reason);

private:
    void OnReadyRead();
    void OnLineBroken(const QString& reason);
    void OnHandedOver(qint64 bytes);
    void PollDrain();
    bool ApplySettings();
    void TakeFormat(const LineFormat& format);
    bool CreateLine();
    void RetireLine();
    qint64 NowUs() const;

    LineTransport* m_line = nullptr;
    QString m_lineName; // the port name m_line was made for
    QTimer* m_drainTimer;
    quint64 m_opens = 0; // counts opens, so that a late break of an earlier one is dropped
    QString m_commPort;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_baud = 9600;
    int m_bitTenths = 100;
    QString m_lastError;
    int m_inBufferSize = 1024;
    int m_outBufferSize = 1024;
    int m_handshaking = 0;
    int m_inputMode = 0;
    int m_rThreshold = 1;
    int m_sThreshold = 1;
    int m_inputLen = 0;
    int m_commEvent = 0;
    bool m_broken = false;

    // When the last byte written so far will have left the line, in microseconds of
    // m_clock (so that single control bytes do not round up).
    QElapsedTimer m_clock;
    qint64 m_wireFreeAtUs = 0;
    WireBacklog m_backlog;
    std::vector<std::function<void()>> m_drainWaiters;
};

} // namespace tapeway
