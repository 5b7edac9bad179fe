// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QAbstractHttpServer;
class QWebSocket;

namespace tapeway {

class OfficeDesk;
class WebAccess;

// /api/live: the status pushed to every page that is open, on connect and
// on each change (at most kMaxPerSecond a second), and a "journal" message
// when a transfer ended. A socket that is not allowed (no credentials,
// another origin, another path) is closed with 1008.
class LiveFeed : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxPerSecond = 5;

    LiveFeed(QAbstractHttpServer* server, OfficeDesk* desk, WebAccess* access, bool tls);
    ~LiveFeed() override;
    int Listeners() const { return int(m_sockets.size()); }

private:
    void Accept();
    void Admit(QWebSocket* socket);
    void Changed();
    void Push();
    QByteArray StatusMessage() const;

    QAbstractHttpServer* m_server;
    QPointer<OfficeDesk> m_desk;
    WebAccess* m_access;
    bool m_tls;
    QList<QWebSocket*> m_sockets;
    QTimer m_coalesce;
    QElapsedTimer m_sincePush;
    QByteArray m_lastTransfers; // the lines' "last" objects at the last push
};

} // namespace tapeway
