// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tapeway {

// Who holds the line's output back when the far end cannot take more.
enum class FlowControl
{
    None,     // nobody: DC1 and DC3 arrive as data, to be acted on by the program
    Hardware, // the driver, on RTS/CTS
    Software  // the driver, on XON/XOFF: DC1 and DC3 never reach the program
};

// A frame format as the line carries it, with its flow control.
struct LineFormat
{
    int baud = 9600;
    char parity = 'N';   // 'N', 'E' or 'O'
    int dataBits = 8;    // 5 to 8
    int stopTenths = 10; // 10, 15 or 20: one, one and a half or two stop bits
    FlowControl flow = FlowControl::None;

    // What one character takes on the wire, in tenths of a bit: the start
    // bit, the data bits, the parity bit and the stop bits (8N1 100, 7E2 110).
    int CharacterBitTenths() const
    {
        return 10 * (1 + dataBits + (parity == 'N' ? 0 : 1)) + stopTenths;
    }

    bool operator==(const LineFormat&) const = default;
};

// What carries the bytes of a serial line underneath the SerialPort facade: a
// local serial device, or a device server on the network. Everything runs on
// the thread that owns the object; nothing blocks.
//
// Broken is raised at most once per open. It may come from inside the
// transport's own notifiers: the owner closes the transport once the event
// loop has returned to it, never from the handler itself.
class LineTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~LineTransport() override = default;

    // False with the reason when the line cannot be opened at all. A line
    // that connects in the background opens at once; a failure to connect
    // later raises Broken.
    virtual bool Open(QString* error) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Applies the format on an open line (or keeps it for the open). False
    // when the line refuses it; a refusal that only shows later raises Broken.
    virtual bool SetFormat(const LineFormat& format) = 0;

    // Queues the bytes for transmission; HandedOver follows for them once
    // they have been handed to the system (device driver or network stack).
    virtual void Write(const QByteArray& bytes) = 0;
    virtual qint64 BytesAvailable() const = 0;
    // Whether bytes have arrived that ReadyRead has not yet handed over:
    // those read, and those the system holds for this program (the tty's
    // input queue). One system call at most.
    virtual bool InputWaiting() const { return BytesAvailable() > 0; }
    virtual QByteArray ReadAll() = 0;

    // Discards bytes waiting to be read, or not yet transmitted.
    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;

    // Bytes written that have not yet reached the far end of the transport
    // (the device, or the device server).
    virtual qint64 BytesQueued() const = 0;
    // Bytes written for which HandedOver has not been raised yet.
    virtual qint64 BytesNotHandedOver() const = 0;
    // Whether BytesQueued() includes what the device driver still holds for
    // the wire. False where nothing tells: a pseudo-terminal reports an empty
    // queue however much waits, a device server reports none of its port's.
    virtual bool ReportsDriverQueue() const { return false; }
    // Whether a received character with a parity or framing error arrives
    // marked, as 0xFF 0x00 and the character (a break as 0xFF 0x00 0x00), and
    // a received 0xFF as 0xFF 0xFF. Only while the frame has parity.
    virtual bool MarksParityErrors() const { return false; }
    // Time, in microseconds, between a byte reaching the far end of the
    // transport and the line it drives: the network round trip, or nothing.
    virtual qint64 ExtraDrainUs() const { return 0; }

signals:
    void ReadyRead();
    void HandedOver(qint64 bytes);
    void Broken(const QString& reason);
};

} // namespace tapeway
