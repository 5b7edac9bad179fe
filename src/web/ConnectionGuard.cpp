// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ConnectionGuard.h"

#include "web/WebReply.h"

#include <QTcpSocket>

namespace tapeway {

namespace {

// How long a refused client may still send before the connection closes:
// closing on unread bytes resets the connection, which could lose the answer.
constexpr int kLingerMs = 500;

} // namespace

ConnectionGuard::ConnectionGuard(QTcpSocket* socket, qint64 maxBody, int timeoutMs)
    : QObject(socket), m_socket(socket), m_gate(maxBody, timeoutMs, 0)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_linger.setSingleShot(true);
    connect(socket, &QIODevice::readyRead, this, &ConnectionGuard::OnReadyRead);
    connect(socket, &QIODevice::bytesWritten, this, &ConnectionGuard::OnWritten);
    connect(&m_timer, &QTimer::timeout, this, &ConnectionGuard::OnTimer);
    connect(&m_linger, &QTimer::timeout, socket, &QAbstractSocket::disconnectFromHost);
    ArmTimer();
}

void ConnectionGuard::OnReadyRead()
{
    if (m_refused) {
        m_socket->readAll();
        return;
    }
    const qint64 available = m_socket->bytesAvailable();
    if (available < m_leftover)
        m_leftover = 0; // read meanwhile by someone other than the server's slot
    const QByteArray fresh = m_socket->peek(available).mid(m_leftover);
    m_leftover = available;
    Act(m_gate.Feed(fresh, m_clock.elapsed()));
    if (!m_refused)
        NoteLeftover();
}

// After the server's slot read what it takes, what stays in the buffer has
// been seen already: the next chunk starts behind it. A queued call runs
// before the socket's next notification.
void ConnectionGuard::NoteLeftover()
{
    if (m_noteQueued)
        return;
    m_noteQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_noteQueued = false;
            m_leftover = m_socket->bytesAvailable();
        },
        Qt::QueuedConnection);
}

void ConnectionGuard::OnWritten()
{
    if (m_refused) {
        if (m_socket->bytesToWrite() == 0 && !m_linger.isActive())
            m_linger.start(kLingerMs);
        return;
    }
    m_gate.Wrote(m_clock.elapsed());
    ArmTimer();
}

void ConnectionGuard::OnTimer()
{
    Act(m_gate.Tick(m_clock.elapsed()));
}

void ConnectionGuard::ArmTimer()
{
    const qint64 deadline = m_gate.Deadline();
    if (deadline < 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(int(std::clamp<qint64>(deadline - m_clock.elapsed() + 1, 0, 1 << 30)));
}

void ConnectionGuard::Act(RequestGate::Action action)
{
    using Action = RequestGate::Action;
    int status = 0;
    QByteArray reason;
    QString code;
    switch (action) {
    case Action::Continue:
        ArmTimer();
        return;
    case Action::Answer100:
        m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        ArmTimer();
        return;
    case Action::Upgrade:
        // The WebSocket's own code takes the connection from here.
        m_timer.stop();
        disconnect(m_socket, nullptr, this, nullptr);
        return;
    case Action::Idle:
        m_refused = true;
        m_timer.stop();
        m_socket->readAll();
        m_socket->disconnectFromHost();
        return;
    case Action::TooLarge:
        status = 413;
        reason = "Content Too Large";
        code = QStringLiteral("too_large");
        break;
    case Action::LengthRequired:
        status = 411;
        reason = "Length Required";
        code = QStringLiteral("length_required");
        break;
    case Action::HeaderTooLarge:
        status = 431;
        reason = "Request Header Fields Too Large";
        code = QStringLiteral("bad_request");
        break;
    case Action::BadRequest:
        status = 400;
        reason = "Bad Request";
        code = QStringLiteral("bad_request");
        break;
    case Action::TimedOut:
        status = 408;
        reason = "Request Timeout";
        code = QStringLiteral("timeout");
        break;
    }
    m_refused = true;
    m_timer.stop();
    m_socket->readAll(); // the server's parser never receives it
    m_socket->write(WebReply::RawError(status, reason, code, QString::fromLatin1(m_gate.Reason())));
    // Closed after the answer is out, or at the latest when the linger ends.
    m_linger.start(4 * kLingerMs);
}

} // namespace tapeway
