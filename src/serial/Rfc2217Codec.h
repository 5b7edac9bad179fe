// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <array>

namespace tapeway {

// The Telnet side of a network serial port, as pure code: the option
// negotiation and escapes of Telnet (RFC 854, 855, 856, 858) and the Com Port
// Control Option (RFC 2217) as its client sees them. Bytes from the server go
// in; the line's data, the bytes to answer with and the server's com port
// replies come out. What the client sends is built here too.
class Rfc2217Codec
{
public:
    // Telnet commands (RFC 854) and the options used here.
    static constexpr quint8 kIAC = 255;
    static constexpr quint8 kDONT = 254;
    static constexpr quint8 kDO = 253;
    static constexpr quint8 kWONT = 252;
    static constexpr quint8 kWILL = 251;
    static constexpr quint8 kSB = 250;
    static constexpr quint8 kSE = 240;
    static constexpr quint8 kOptionBinary = 0;
    static constexpr quint8 kOptionSuppressGoAhead = 3;
    static constexpr quint8 kOptionComPort = 44;

    // Com port commands in the client's numbering; the server answers with
    // the code plus kServerOffset.
    enum Command : quint8
    {
        kSignature = 0,
        kSetBaudRate = 1,
        kSetDataSize = 2,
        kSetParity = 3,
        kSetStopSize = 4,
        kSetControl = 5,
        kNotifyLineState = 6,
        kNotifyModemState = 7,
        kFlowControlSuspend = 8,
        kFlowControlResume = 9,
        kSetLineStateMask = 10,
        kSetModemStateMask = 11,
        kPurgeData = 12,
    };
    static constexpr quint8 kServerOffset = 100;

    // SET-CONTROL values used here (outbound flow control, which a server
    // that does not tell the directions apart applies to both).
    static constexpr quint8 kNoFlowControl = 1;
    static constexpr quint8 kXonXoffFlowControl = 2;
    static constexpr quint8 kHardwareFlowControl = 3;
    static constexpr quint8 kDtrOff = 9;
    static constexpr quint8 kRtsOff = 12;
    // PURGE-DATA values.
    static constexpr quint8 kPurgeReceive = 1;
    static constexpr quint8 kPurgeTransmit = 2;
    static constexpr quint8 kPurgeBoth = 3;

    enum class ComPortState
    {
        Unasked,
        Asked,
        Agreed,
        Refused
    };

    // A com port command of the server: an answer to a request, or a
    // notification. command is in the client's numbering; dataOffset is the
    // number of line bytes of the same piece that came before it.
    struct Reply
    {
        quint8 command = 0;
        QByteArray value;
        qsizetype dataOffset = 0;
        bool operator==(const Reply&) const = default;
    };

    struct Decoded
    {
        QByteArray data;      // the line's bytes, escapes and commands removed
        QByteArray answer;    // to send to the server at once
        QList<Reply> replies; // in the order they came
        // Where in data the server agreed to (or refused) the com port
        // option, when it did in this piece; -1 otherwise.
        qsizetype comPortSettledAt = -1;
    };

    // A server asking again for the signature within this time gets no
    // second answer (unless the signature changed meanwhile).
    static constexpr qint64 kSignatureRepeatMs = 5000;

    // The text sent when the server asks for this side's signature.
    void SetSignature(const QByteArray& text);

    // The client's opening: binary both ways, no go-ahead either way, and the
    // com port option.
    QByteArray Opening();

    // Takes whatever arrived from the server, in pieces of any size; nowMs
    // is any clock in milliseconds (for the signature's repeat time).
    Decoded Feed(QByteArrayView bytes, qint64 nowMs = 0);

    // Line data as it goes to the server: IAC doubled, and a carriage return
    // followed by NUL as long as this side does not send in binary.
    QByteArray EncodeData(QByteArrayView data) const;

    // IAC SB COM-PORT-OPTION command value IAC SE, IAC in the value doubled.
    static QByteArray Request(quint8 command, QByteArrayView value = {});
    static QByteArray SetBaudRate(quint32 baud);
    static QByteArray SetDataSize(int bits);
    static QByteArray SetParity(char letter);  // 'N', 'O', 'E'
    static QByteArray SetStopSize(int tenths); // 10, 20, 15
    static QByteArray SetControl(quint8 value);
    static QByteArray PurgeData(quint8 which);
    // A reply's value as a number: up to four bytes, most significant first.
    static quint32 ValueOf(const QByteArray& value);

    ComPortState ComPort() const { return m_comPort; }
    bool SendsBinary() const { return m_local[kOptionBinary].enabled; }
    bool ReceivesBinary() const { return m_remote[kOptionBinary].enabled; }

private:
    enum class State
    {
        Data,
        Iac,
        Option,
        Sub,
        SubIac
    };

    // One side of one option (RFC 854's "mode"), with a request of ours
    // that has not been answered yet, and whether a request of the server's
    // to enable it was refused: a refusal is said once, not again for every
    // repeat of the request, until the server has taken it back.
    struct Side
    {
        bool enabled = false;
        bool pending = false;
        bool refused = false;
    };

    void Command(quint8 byte, Decoded& out);
    void Negotiate(quint8 verb, quint8 option, Decoded& out);
    void EndSub(Decoded& out, qint64 nowMs);
    void Data(quint8 byte, Decoded& out);
    static bool WantLocal(quint8 option);
    static bool WantRemote(quint8 option);

    State m_state = State::Data;
    quint8 m_verb = 0;
    QByteArray m_sub;
    bool m_subOverflow = false;
    bool m_afterCR = false;
    std::array<Side, 256> m_local{};  // this side's options (WILL / WONT)
    std::array<Side, 256> m_remote{}; // the server's options (DO / DONT)
    ComPortState m_comPort = ComPortState::Unasked;
    QByteArray m_signature = "TAPEWAY";
    bool m_signatureSent = false;
    qint64 m_signatureSentMs = 0;
};

} // namespace tapeway
