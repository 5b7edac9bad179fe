// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/WebAccess.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QAbstractHttpServer;
class QWebSocket;

namespace tapeway {

class DeskClient;

// /api/live: the status pushed to every page that is open, on connect and
// on each change (at most kMaxPerSecond a second), and a "journal" message
// when a transfer ended. A socket that is not allowed (no credentials,
// another origin, another path) is closed with 1008.
class LiveFeed : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxPerSecond = 5;
    // A page that does not read its messages is closed once this much waits
    // for it, rather than held in memory without end.
    static constexpr qint64 kMaxUnsent = 4LL * 1024 * 1024;

    LiveFeed(QAbstractHttpServer* server, DeskClient* desk, WebAccess* access, bool tls);
    ~LiveFeed() override;
    int Listeners() const { return int(m_sockets.size()); }

private:
    void Accept();
    void Admit(QWebSocket* socket);
    void Changed();
    void Push();
    QByteArray StatusMessage() const;
    void Send(QWebSocket* socket, const QString& message);

    // Who a socket was opened by, checked again at each push: a session
    // logged out or a user removed or changed closes it.
    struct Listener
    {
        WebAccess::Identity who;
        QByteArray sessionToken;
        qint64 unsent = 0; // bytes handed to the socket, not yet written
    };

    QAbstractHttpServer* m_server;
    QPointer<DeskClient> m_desk;
    WebAccess* m_access;
    bool m_tls;
    QHash<QWebSocket*, Listener> m_sockets;
    QTimer m_coalesce;
    QElapsedTimer m_sincePush;
    QByteArray m_lastTransfers; // the lines' "last" objects at the last push
};

} // namespace tapeway
