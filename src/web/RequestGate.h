// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tapeway {

// Watches the bytes a client sends on one keep-alive connection, before the
// HTTP server reads them, and says what the connection needs: nothing, a
// "100 Continue", or a refusal (the body too large, a body without a length,
// a header that is not HTTP, a client too slow). Follows one request after
// the other: the header up to its empty line, then Content-Length bytes of
// body. A WebSocket upgrade ends the watch. No socket, no clock: fed bytes
// and told the time in milliseconds.
class RequestGate
{
public:
    static constexpr qint64 kMaxHeaderBytes = 64 * 1024;

    enum class Action
    {
        Continue,       // nothing to do
        Answer100,      // write "HTTP/1.1 100 Continue": the client waits for it
        TooLarge,       // 413: Content-Length over the limit
        LengthRequired, // 411: a body without Content-Length (Transfer-Encoding)
        HeaderTooLarge, // 431: no header end within kMaxHeaderBytes
        BadRequest,     // 400: not a request header
        TimedOut,       // 408: a header or body that did not arrive in time
        Idle,           // close quietly: no byte of a next request in time
        Upgrade,        // a WebSocket handshake: the gate lets go
    };

    enum class State
    {
        Header,  // reading a request header
        Body,    // reading its body
        Refused, // an answer ended the connection
        Upgraded,
    };

    RequestGate(qint64 maxBody, qint64 timeoutMs, qint64 nowMs);

    // The next bytes the client sent.
    Action Feed(QByteArrayView bytes, qint64 nowMs);
    // The server wrote an answer's bytes: an idle connection with an answer
    // still flowing out is not idle.
    void Wrote(qint64 nowMs);
    // What the time says (TimedOut, Idle or Continue).
    Action Tick(qint64 nowMs);
    // When Tick has something to say, -1 when never.
    qint64 Deadline() const;

    State CurrentState() const { return m_state; }
    int RequestsSeen() const { return m_requests; }
    // Why the last refusal, in English.
    const char* Reason() const { return m_reason; }

private:
    Action HeaderComplete(qint64 headerEnd, qint64 nowMs, bool bodyFollows);
    Action Refuse(Action action, const char* reason);

    qint64 m_maxBody;
    qint64 m_timeoutMs;
    State m_state = State::Header;
    QByteArray m_header;      // the header read so far
    qint64 m_headerSince = 0; // the connection opened or the previous request ended
    qint64 m_bodyLeft = 0;
    qint64 m_lastBody = 0; // the body's last byte arrived
    int m_requests = 0;
    const char* m_reason = "";
};

} // namespace tapeway
