// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/Rfc2217Codec.h"

namespace tapeway {

namespace {

// A subnegotiation longer than this is dropped whole (no com port command
// comes near it; a signature text may).
constexpr qsizetype kMaxSub = 1024;

constexpr quint8 kCR = 0x0d;
constexpr quint8 kNUL = 0x00;

void Put(QByteArray& out, std::initializer_list<quint8> bytes)
{
    for (quint8 byte : bytes)
        out.append(char(byte));
}

} // namespace

bool Rfc2217Codec::WantLocal(quint8 option)
{
    return option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
}

bool Rfc2217Codec::WantRemote(quint8 option)
{
    return option == kOptionBinary || option == kOptionSuppressGoAhead;
}

QByteArray Rfc2217Codec::Opening()
{
    QByteArray out;
    for (quint8 option : {kOptionBinary, kOptionSuppressGoAhead}) {
        if (!m_local[option].enabled) {
            m_local[option].pending = true;
            Put(out, {kIAC, kWILL, option});
        }
        if (!m_remote[option].enabled) {
            m_remote[option].pending = true;
            Put(out, {kIAC, kDO, option});
        }
    }
    if (!m_local[kOptionComPort].enabled) {
        m_local[kOptionComPort].pending = true;
        m_comPort = ComPortState::Asked;
        Put(out, {kIAC, kWILL, kOptionComPort});
    }
    return out;
}

void Rfc2217Codec::SetSignature(const QByteArray& text)
{
    if (text != m_signature)
        m_signatureSent = false; // a changed signature is worth telling again
    m_signature = text;
}

Rfc2217Codec::Decoded Rfc2217Codec::Feed(QByteArrayView bytes, qint64 nowMs)
{
    Decoded out;
    for (const char c : bytes) {
        const auto byte = quint8(c);
        switch (m_state) {
        case State::Data:
            if (byte == kIAC)
                m_state = State::Iac;
            else
                Data(byte, out);
            break;
        case State::Iac:
            Command(byte, out);
            break;
        case State::Option:
            m_state = State::Data;
            Negotiate(m_verb, byte, out);
            break;
        case State::Sub:
            if (byte == kIAC) {
                m_state = State::SubIac;
            } else if (m_sub.size() < kMaxSub) {
                m_sub.append(char(byte));
            } else {
                m_subOverflow = true;
            }
            break;
        case State::SubIac:
            if (byte == kSE) {
                m_state = State::Data;
                EndSub(out, nowMs);
            } else if (byte == kIAC) {
                m_state = State::Sub;
                if (m_sub.size() < kMaxSub)
                    m_sub.append(char(byte));
                else
                    m_subOverflow = true;
            } else {
                // A command inside a subnegotiation ends it unfinished; the
                // command itself still counts.
                m_sub.clear();
                m_subOverflow = false;
                Command(byte, out);
            }
            break;
        }
    }
    return out;
}

void Rfc2217Codec::Data(quint8 byte, Decoded& out)
{
    // Outside binary mode a carriage return travels as CR NUL (RFC 854).
    if (m_afterCR && byte == kNUL && !ReceivesBinary()) {
        m_afterCR = false;
        return;
    }
    m_afterCR = byte == kCR;
    out.data.append(char(byte));
}

void Rfc2217Codec::Command(quint8 byte, Decoded& out)
{
    m_state = State::Data;
    switch (byte) {
    case kIAC:
        m_afterCR = false;
        out.data.append(char(kIAC));
        break;
    case kWILL:
    case kWONT:
    case kDO:
    case kDONT:
        m_verb = byte;
        m_state = State::Option;
        break;
    case kSB:
        m_sub.clear();
        m_subOverflow = false;
        m_state = State::Sub;
        break;
    default:
        // NOP, data mark, break, go-ahead and the rest carry no line data.
        break;
    }
}

void Rfc2217Codec::Negotiate(quint8 verb, quint8 option, Decoded& out)
{
    // RFC 854 and RFC 1143: only a change of an option's state is answered.
    // A request to enter a mode already in force, or one already refused,
    // gets no answer, so that the two sides never loop and a server that
    // repeats requests cannot make this side answer each one.
    switch (verb) {
    case kWILL: {
        Side& side = m_remote[option];
        if (side.enabled || side.refused)
            return;
        if (!WantRemote(option)) {
            side.pending = false;
            side.refused = true;
            Put(out.answer, {kIAC, kDONT, option});
            return;
        }
        side.enabled = true;
        if (side.pending)
            side.pending = false;
        else
            Put(out.answer, {kIAC, kDO, option});
        return;
    }
    case kWONT: {
        Side& side = m_remote[option];
        side.pending = false;
        side.refused = false;
        if (side.enabled) {
            side.enabled = false;
            Put(out.answer, {kIAC, kDONT, option});
        }
        return;
    }
    case kDO: {
        Side& side = m_local[option];
        if (side.enabled || side.refused)
            return;
        if (!WantLocal(option)) {
            side.pending = false;
            side.refused = true;
            Put(out.answer, {kIAC, kWONT, option});
            return;
        }
        side.enabled = true;
        if (option == kOptionComPort) {
            m_comPort = ComPortState::Agreed;
            out.comPortSettledAt = out.data.size();
        }
        if (side.pending)
            side.pending = false;
        else
            Put(out.answer, {kIAC, kWILL, option});
        return;
    }
    case kDONT: {
        Side& side = m_local[option];
        const bool wasAsked = side.enabled || side.pending;
        side.pending = false;
        side.refused = false;
        if (side.enabled) {
            side.enabled = false;
            Put(out.answer, {kIAC, kWONT, option});
        }
        if (option == kOptionComPort && wasAsked) {
            m_comPort = ComPortState::Refused;
            out.comPortSettledAt = out.data.size();
        }
        return;
    }
    default:
        return;
    }
}

void Rfc2217Codec::EndSub(Decoded& out, qint64 nowMs)
{
    const QByteArray sub = m_sub;
    const bool overflow = m_subOverflow;
    m_sub.clear();
    m_subOverflow = false;
    if (overflow || sub.size() < 2 || quint8(sub[0]) != kOptionComPort)
        return;
    const auto code = quint8(sub[1]);
    if (code < kServerOffset)
        return; // the client's numbering: not the server's to send
    Reply reply{quint8(code - kServerOffset), sub.mid(2), out.data.size()};
    if (reply.command == kSignature && reply.value.isEmpty() &&
        (!m_signatureSent || nowMs - m_signatureSentMs >= kSignatureRepeatMs)) {
        // The server asks who we are; asking again at once changes nothing.
        m_signatureSent = true;
        m_signatureSentMs = nowMs;
        out.answer += Request(kSignature, m_signature);
    }
    out.replies.append(reply);
}

QByteArray Rfc2217Codec::EncodeData(QByteArrayView data) const
{
    const bool binary = SendsBinary();
    QByteArray out;
    out.reserve(data.size() + data.size() / 64 + 4);
    for (const char c : data) {
        out.append(c);
        if (quint8(c) == kIAC)
            out.append(char(kIAC));
        else if (quint8(c) == kCR && !binary)
            out.append(char(kNUL));
    }
    return out;
}

QByteArray Rfc2217Codec::Request(quint8 command, QByteArrayView value)
{
    QByteArray out;
    Put(out, {kIAC, kSB, kOptionComPort, command});
    for (const char c : value) {
        out.append(c);
        if (quint8(c) == kIAC)
            out.append(char(kIAC));
    }
    Put(out, {kIAC, kSE});
    return out;
}

QByteArray Rfc2217Codec::SetBaudRate(quint32 baud)
{
    const char value[4] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    return Request(kSetBaudRate, QByteArrayView(value, 4));
}

QByteArray Rfc2217Codec::SetDataSize(int bits)
{
    const char value = char(bits);
    return Request(kSetDataSize, QByteArrayView(&value, 1));
}

QByteArray Rfc2217Codec::SetParity(char letter)
{
    const char value = letter == 'O' ? 2 : letter == 'E' ? 3 : 1;
    return Request(kSetParity, QByteArrayView(&value, 1));
}

QByteArray Rfc2217Codec::SetStopSize(int tenths)
{
    const char value = tenths == 20 ? 2 : tenths == 15 ? 3 : 1;
    return Request(kSetStopSize, QByteArrayView(&value, 1));
}

QByteArray Rfc2217Codec::SetControl(quint8 value)
{
    const char byte = char(value);
    return Request(kSetControl, QByteArrayView(&byte, 1));
}

QByteArray Rfc2217Codec::PurgeData(quint8 which)
{
    const char byte = char(which);
    return Request(kPurgeData, QByteArrayView(&byte, 1));
}

quint32 Rfc2217Codec::ValueOf(const QByteArray& value)
{
    quint32 n = 0;
    for (qsizetype i = 0; i < value.size() && i < 4; ++i)
        n = (n << 8) | quint8(value[i]);
    return n;
}

} // namespace tapeway
