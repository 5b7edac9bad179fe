// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/HttpConfig.h"
#include "web/OfficeApi.h"

#include <QAbstractHttpServer>
#include <QPointer>

namespace tapeway {

class DeskClient;
class LiveFeed;
class OfficeDesk;
class OfficeListener;
class WebAccess;

// The office view's web server: the page from the program's resources and
// the API over the desk, on a listener that limits what a client may send.
// Knows the service only through the desk, which it reaches through a
// DeskClient: the server may run on a thread of its own (OfficeThread).
class OfficeServer : public QAbstractHttpServer
{
    Q_OBJECT
public:
    // status: the desk's status now, read on the desk's thread.
    OfficeServer(const HttpConfig& config, OfficeDesk* desk, const QJsonObject& status,
                 QObject* parent = nullptr);
    ~OfficeServer() override;

    // Reads the users file and the certificate, listens; false with the reason.
    bool Start(QString* error);
    // http://HOST:PORT/ (https with TLS), the port really bound.
    QString Url() const;

signals:
    // A line for the service's log (English).
    void Message(const QString& text);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void Asset(const QStringList& segments, const QByteArray& method, WebReply& reply);
    void Api(WebCall call);
    void Allowed(const WebCall& call);
    void Login(const WebCall& call);
    void Unauthorized(const WebCall& call);

    HttpConfig m_config;
    DeskClient* m_desk;
    OfficeListener* m_listener;
    WebAccess* m_access;
    LiveFeed* m_live;
    OfficeApi m_api;
};

} // namespace tapeway
