// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/RequestGate.h"

#include <QList>

namespace tapeway {

namespace {

// The end of the header (the index after its empty line), -1 when not yet.
// A bare LF ends a line too, as the server's parser accepts it.
qint64 HeaderEnd(const QByteArray& header)
{
    for (qint64 i = header.indexOf('\n'); i >= 0; i = header.indexOf('\n', i + 1)) {
        if (i + 1 < header.size() && header[i + 1] == '\n')
            return i + 2;
        if (i + 2 < header.size() && header[i + 1] == '\r' && header[i + 2] == '\n')
            return i + 3;
    }
    return -1;
}

bool HasToken(const QByteArray& value, QByteArrayView token)
{
    for (const QByteArray& part : value.split(','))
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

RequestGate::RequestGate(qint64 maxBody, qint64 timeoutMs, qint64 nowMs)
    : m_maxBody(maxBody), m_timeoutMs(timeoutMs), m_headerSince(nowMs)
{
}

RequestGate::Action RequestGate::Refuse(Action action, const char* reason)
{
    m_state = State::Refused;
    m_reason = reason;
    return action;
}

RequestGate::Action RequestGate::Feed(QByteArrayView bytes, qint64 nowMs)
{
    bool answer100 = false;
    while (!bytes.isEmpty()) {
        switch (m_state) {
        case State::Refused:
        case State::Upgraded:
            return Action::Continue;
        case State::Body: {
            const qint64 take = std::min<qint64>(m_bodyLeft, bytes.size());
            m_bodyLeft -= take;
            m_lastBody = nowMs;
            bytes = bytes.sliced(take);
            answer100 = false; // the client did not wait for it
            if (m_bodyLeft == 0) {
                m_state = State::Header;
                m_headerSince = nowMs;
            }
            break;
        }
        case State::Header: {
            // Empty lines before a request line are passed over (RFC 9112 2.2).
            if (m_header.isEmpty()) {
                while (!bytes.isEmpty() && (bytes.front() == '\r' || bytes.front() == '\n'))
                    bytes = bytes.sliced(1);
                if (bytes.isEmpty())
                    break;
            }
            const qint64 before = m_header.size();
            m_header.append(bytes.first(std::min<qint64>(bytes.size(), kMaxHeaderBytes)));
            const qint64 end = HeaderEnd(m_header);
            if (end < 0) {
                if (m_header.size() >= kMaxHeaderBytes)
                    return Refuse(Action::HeaderTooLarge, "the request header is too large");
                bytes = bytes.sliced(std::min<qint64>(bytes.size(), kMaxHeaderBytes));
                break;
            }
            bytes = bytes.sliced(end - before);
            const Action action = HeaderComplete(end, nowMs, !bytes.isEmpty());
            if (action == Action::Answer100)
                answer100 = true;
            else if (action != Action::Continue)
                return action;
            break;
        }
        }
    }
    return answer100 && m_state == State::Body ? Action::Answer100 : Action::Continue;
}

RequestGate::Action RequestGate::HeaderComplete(qint64 headerEnd, qint64 nowMs, bool bodyFollows)
{
    const QByteArray header = m_header.left(headerEnd);
    m_header.clear();
    ++m_requests;
    QList<QByteArray> lines = header.split('\n');
    const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1."))
        return Refuse(Action::BadRequest, "not an HTTP/1.1 request line");
    qint64 length = -1;
    bool chunked = false;
    bool expect100 = false;
    bool upgrade = false;
    bool connectionUpgrade = false;
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.front() == ' ' || line.front() == '\t' ||
            line.left(colon).contains(' '))
            return Refuse(Action::BadRequest, "a header field is not well formed");
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = !value.isEmpty();
            for (const char c : value)
                ok = ok && c >= '0' && c <= '9';
            const qint64 parsed = value.size() <= 18 ? value.toLongLong() : -1;
            if (!ok || parsed < 0 || (length >= 0 && length != parsed))
                return Refuse(Action::BadRequest, "Content-Length is not a number");
            length = parsed;
        } else if (name == "transfer-encoding") {
            chunked = true;
        } else if (name == "expect") {
            expect100 = HasToken(value, "100-continue");
        } else if (name == "upgrade") {
            upgrade = HasToken(value, "websocket");
        } else if (name == "connection") {
            connectionUpgrade = HasToken(value, "upgrade");
        }
    }
    if (chunked)
        return Refuse(Action::LengthRequired, "a body needs Content-Length");
    if (length > m_maxBody)
        return Refuse(Action::TooLarge, "the body is larger than the upload limit");
    if (upgrade && connectionUpgrade && requestLine[0] == "GET") {
        m_state = State::Upgraded;
        return Action::Upgrade;
    }
    if (length > 0) {
        m_state = State::Body;
        m_bodyLeft = length;
        m_lastBody = nowMs;
        return expect100 && !bodyFollows ? Action::Answer100 : Action::Continue;
    }
    m_headerSince = nowMs;
    return Action::Continue;
}

void RequestGate::Wrote(qint64 nowMs)
{
    if (m_state == State::Header && m_header.isEmpty())
        m_headerSince = nowMs;
}

qint64 RequestGate::Deadline() const
{
    switch (m_state) {
    case State::Header:
        return m_headerSince + m_timeoutMs;
    case State::Body:
        return m_lastBody + m_timeoutMs;
    case State::Refused:
    case State::Upgraded:
        break;
    }
    return -1;
}

RequestGate::Action RequestGate::Tick(qint64 nowMs)
{
    const qint64 deadline = Deadline();
    if (deadline < 0 || nowMs < deadline)
        return Action::Continue;
    if (m_state == State::Header && m_header.isEmpty()) {
        m_state = State::Refused;
        m_reason = "the connection was idle";
        return Action::Idle;
    }
    return Refuse(Action::TimedOut, m_state == State::Body ? "the body stalled"
                                                           : "the request header came too slowly");
}

} // namespace tapeway
