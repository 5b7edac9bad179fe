// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/LiveFeed.h"

#include "web/DeskClient.h"
#include "web/WebAccess.h"
#include "web/WebPath.h"

#include <QAbstractHttpServer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

namespace tapeway {

namespace {

// What tells that a transfer ended: each line's last transfer.
QByteArray LastTransfers(const QJsonObject& status)
{
    QJsonArray last;
    for (const QJsonValue& line : status.value(QStringLiteral("lines")).toArray())
        last.append(line.toObject().value(QStringLiteral("last")));
    return QJsonDocument(last).toJson(QJsonDocument::Compact);
}

} // namespace

LiveFeed::LiveFeed(QAbstractHttpServer* server, DeskClient* desk, WebAccess* access, bool tls)
    : QObject(server), m_server(server), m_desk(desk), m_access(access), m_tls(tls)
{
    m_coalesce.setSingleShot(true);
    m_sincePush.start();
    connect(server, &QAbstractHttpServer::newWebSocketConnection, this, &LiveFeed::Accept);
    connect(&m_coalesce, &QTimer::timeout, this, &LiveFeed::Push);
    if (desk) {
        connect(desk, &DeskClient::StatusChanged, this, &LiveFeed::Changed);
        m_lastTransfers = LastTransfers(desk->Status());
    }
}

LiveFeed::~LiveFeed()
{
    const QList<QWebSocket*> sockets = m_sockets.keys();
    for (QWebSocket* socket : sockets)
        socket->disconnect(this);
    qDeleteAll(sockets);
}

void LiveFeed::Accept()
{
    while (m_server->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_server->nextPendingWebSocketConnection();
        if (socket)
            Admit(socket.release());
    }
}

void LiveFeed::Admit(QWebSocket* socket)
{
    socket->setParent(this);
    const QNetworkRequest request = socket->request();
    const QByteArray origin = socket->origin().toLatin1();
    const QByteArray host = request.rawHeader("Host").isEmpty()
                                ? request.url().authority().toLatin1()
                                : request.rawHeader("Host");
    const auto refuse = [socket](const QString& why) {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, why);
        socket->deleteLater();
    };
    if (request.url().path() != QStringLiteral("/api/live"))
        return refuse(QStringLiteral("not_found"));
    if ((!origin.isEmpty() && !WebPath::SameOrigin(origin, host, m_tls)) ||
        (!m_access->UsersRequired() && !WebPath::LoopbackHost(host)))
        return refuse(QStringLiteral("forbidden"));
    QPointer<QWebSocket> guarded(socket);
    QPointer<LiveFeed> self(this);
    const QByteArray cookie = request.rawHeader("Cookie");
    m_access->Identify(cookie, request.rawHeader("Authorization"),
                       [self, guarded, refuse, cookie](const WebAccess::Identity& who) {
                           if (!self || !guarded)
                               return;
                           if (!who.known)
                               return refuse(QStringLiteral("unauthorized"));
                           QWebSocket* socket = guarded.data();
                           Listener listener;
                           listener.who = who;
                           listener.sessionToken = WebAccess::SessionToken(cookie);
                           self->m_sockets.insert(socket, listener);
                           connect(socket, &QWebSocket::disconnected, self, [self, socket] {
                               self->m_sockets.remove(socket);
                               socket->deleteLater();
                           });
                           connect(socket, &QWebSocket::bytesWritten, self,
                                   [self, socket](qint64 bytes) {
                                       const auto it = self->m_sockets.find(socket);
                                       if (it != self->m_sockets.end())
                                           it->unsent = std::max<qint64>(0, it->unsent - bytes);
                                   });
                           self->Send(socket, QString::fromUtf8(self->StatusMessage()));
                       });
}

QByteArray LiveFeed::StatusMessage() const
{
    return QJsonDocument(
               QJsonObject{{QStringLiteral("type"), QStringLiteral("status")},
                           {QStringLiteral("status"), m_desk ? m_desk->Status() : QJsonObject()}})
        .toJson(QJsonDocument::Compact);
}

void LiveFeed::Changed()
{
    if (m_coalesce.isActive())
        return;
    const qint64 gap = 1000 / kMaxPerSecond;
    m_coalesce.start(int(std::max<qint64>(0, gap - m_sincePush.elapsed())));
}

void LiveFeed::Push()
{
    m_sincePush.restart();
    if (!m_desk)
        return;
    const QJsonObject status = m_desk->Status();
    const QByteArray transfers = LastTransfers(status);
    const bool ended = transfers != m_lastTransfers;
    m_lastTransfers = transfers;
    if (m_sockets.isEmpty())
        return;
    const QString message = QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("status")},
                                  {QStringLiteral("status"), status}})
            .toJson(QJsonDocument::Compact));
    const QList<QWebSocket*> sockets = m_sockets.keys();
    for (QWebSocket* socket : sockets) {
        const Listener& listener = m_sockets[socket];
        if (!m_access->StillAllowed(listener.who, listener.sessionToken)) {
            m_sockets.remove(socket);
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("unauthorized"));
            socket->deleteLater();
            continue;
        }
        Send(socket, message);
        if (ended)
            Send(socket, QStringLiteral("{\"type\":\"journal\"}"));
    }
}

void LiveFeed::Send(QWebSocket* socket, const QString& message)
{
    const auto it = m_sockets.find(socket);
    if (it == m_sockets.end())
        return;
    // Counted in UTF-8 bytes; the frame's few header bytes make the count
    // err towards keeping the page.
    it->unsent += message.toUtf8().size();
    if (it->unsent > kMaxUnsent) {
        m_sockets.erase(it);
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->sendTextMessage(message);
}

} // namespace tapeway
