// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LineTransport.h"
#include "serial/Rfc2217Codec.h"

#include <QElapsedTimer>
#include <deque>
#include <utility>

class QTcpSocket;
class QTimer;

namespace tapeway {

// A serial port on an Ethernet device server, reached over TCP.
//
// rfc2217://HOST:PORT speaks the Telnet Com Port Control Option: the line's
// speed, frame format and flow control are set over the network, data travels
// in binary with IAC doubled, the buffer discards are PURGE-DATA requests.
// Requests the server does not acknowledge (modem lines on some servers) are
// not waited for. A server that refuses the option, sets a speed other than
// the one asked for, or answers a request for XON/XOFF or RTS/CTS flow control
// with another one, breaks the line. DTR stays low, and RTS unless the flow
// control is RTS/CTS. The protocol carries no per-character errors: parity
// errors are not marked.
//
// tcp://HOST:PORT[?baud=N] is a raw socket to a server whose line speed is
// fixed in its own settings (N, 9600 when omitted): only that speed can be
// set; its frame format and flow control are the server's too.
//
// Opening starts connecting and returns at once. Bytes written meanwhile wait
// and go out once the connection (and, for RFC 2217, the option) is agreed.
// No agreement within kConnectTimeoutMs, a refused connection, or a lost one
// raises Broken with the reason. So does a server that does not read what is
// sent to it: more than kMaxUnwrittenBytes waiting in the socket (the line's
// own data never comes near it; a server flooding the negotiation while it
// reads nothing does), so that memory stays bounded.
class NetworkLine : public LineTransport
{
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kPurgeAckMs = 1000;
    static constexpr qint64 kMaxUnwrittenBytes = 256 * 1024;

    enum class Kind
    {
        Rfc2217,
        RawTcp
    };

    struct Address
    {
        Kind kind = Kind::Rfc2217;
        QString host;
        quint16 port = 0;
        int fixedBaud = 0; // RawTcp: the speed the server's line runs at
    };

    // Whether a port name means a network port (by its scheme, in any case).
    static bool IsNetworkName(const QString& name);
    // The address of a network port name; false with the reason when the
    // name is not a well-formed one.
    static bool ParseName(const QString& name, Address* address, QString* error);

    explicit NetworkLine(const Address& address, QObject* parent = nullptr);
    ~NetworkLine() override;

    bool Open(QString* error) override;
    void Close() override;
    bool IsOpen() const override { return m_state != State::Closed; }
    bool SetFormat(const LineFormat& format) override;
    void Write(const QByteArray& bytes) override;
    qint64 BytesAvailable() const override { return m_received.size(); }
    QByteArray ReadAll() override;
    void PurgeInput() override;
    void PurgeOutput() override;
    qint64 BytesQueued() const override;
    qint64 BytesNotHandedOver() const override { return m_held.size() + m_lineBytesUnwritten; }
    qint64 ExtraDrainUs() const override { return m_roundTripUs; }

private:
    enum class State
    {
        Closed,
        Connecting,  // TCP connection under way
        Negotiating, // connected, the com port option not yet agreed
        Ready,
        Broken
    };

    void OnConnected();
    void OnSocketReadyRead();
    // Reads what the system holds and handles the Telnet part of it; gives
    // the line data.
    QByteArray Absorb();
    void OnBytesWritten(qint64 bytes);
    void OnReply(const Rfc2217Codec::Reply& reply);
    void BecomeReady();
    void SendPurge(bool input, bool output);
    void SendFormat(bool whole);
    void SendCommand(const QByteArray& command);
    void SendData(const QByteArray& data);
    void CheckUnwritten();
    void Flush();
    void Break(const QString& reason);
    QString Where() const;
    qint64 NowUs() const;

    Address m_address;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_connectTimer;
    State m_state = State::Closed;
    Rfc2217Codec m_codec;
    QElapsedTimer m_clock;

    QByteArray m_held;        // line data waiting for the connection or a resume
    QByteArray m_received;    // line data not yet read
    QByteArray m_preamble;    // what the server said before the line was agreed
    bool m_suspended = false; // the server asked to stop sending (FLOWCONTROL-SUSPEND)

    // Discards asked for before the line was agreed, done once it is.
    bool m_purgeInputDue = false;
    bool m_purgeOutputDue = false;
    // Between a receive purge and the server's acknowledgement, what arrives
    // was read by the server before the purge: it is dropped. A server that
    // does not acknowledge the first purge within kPurgeAckMs is taken never
    // to acknowledge one, and nothing is dropped on its line.
    enum class PurgeAcks
    {
        Unknown,
        Given,
        NotGiven
    };
    PurgeAcks m_purgeAcks = PurgeAcks::Unknown;
    int m_purgesUnacknowledged = 0;
    QTimer* m_purgeTimer;
    // Socket bytes handed to Qt not yet written to the system, each chunk
    // with the number of line bytes in it.
    std::deque<std::pair<qint64, qint64>> m_unwritten;
    qint64 m_lineBytesUnwritten = 0; // the line bytes in m_unwritten

    LineFormat m_format;
    LineFormat m_sentFormat;
    bool m_formatSent = false;
    // Speed requests not yet acknowledged: the speed and when it was sent.
    std::deque<std::pair<quint32, qint64>> m_baudRequests;
    // Flow control requests not yet acknowledged (SET-CONTROL values).
    std::deque<quint8> m_flowRequests;
    qint64 m_connectStartUs = 0;
    qint64 m_roundTripUs = 0;
};

} // namespace tapeway
