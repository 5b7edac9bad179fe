// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebReply.h"

#include <QJsonObject>
#include <QTcpSocket>

namespace tapeway {

WebReply::WebReply(QHttpServerResponder&& responder, QTcpSocket* socket, bool api)
    : m_responder(std::make_shared<QHttpServerResponder>(std::move(responder))), m_socket(socket),
      m_api(api)
{
}

bool WebReply::Open() const
{
    return !m_done && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

const QByteArray& WebReply::PagePolicy()
{
    static const QByteArray policy =
        "default-src 'self'; img-src 'self' data:; connect-src 'self'; style-src 'self'; "
        "script-src 'self'; object-src 'none'; base-uri 'none'; frame-ancestors 'none'";
    return policy;
}

QByteArray WebReply::ErrorBody(const QString& code, const QString& message)
{
    return QJsonDocument(
               QJsonObject{{QStringLiteral("error"), code}, {QStringLiteral("message"), message}})
        .toJson(QJsonDocument::Compact);
}

QByteArray WebReply::RawError(int status, const QByteArray& reason, const QString& code,
                              const QString& message)
{
    const QByteArray body = ErrorBody(code, message);
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) +
           "\r\nConnection: close\r\nX-Content-Type-Options: nosniff\r\n"
           "Referrer-Policy: no-referrer\r\nX-Frame-Options: DENY\r\n"
           "Cache-Control: no-store\r\n\r\n" +
           body;
}

void WebReply::Headers(bool page)
{
    m_responder->writeHeader("X-Content-Type-Options", "nosniff");
    m_responder->writeHeader("Referrer-Policy", "no-referrer");
    m_responder->writeHeader("X-Frame-Options", "DENY");
    if (m_api)
        m_responder->writeHeader("Cache-Control", "no-store");
    if (page)
        m_responder->writeHeader("Content-Security-Policy", PagePolicy());
}

void WebReply::Bytes(const QByteArray& body, const QByteArray& type, Status status,
                     const QByteArray& extraHeader, const QByteArray& extraValue, bool page)
{
    if (!Open()) {
        m_done = true;
        return;
    }
    m_done = true;
    m_responder->writeStatusLine(status);
    Headers(page);
    if (!extraHeader.isEmpty())
        m_responder->writeHeader(extraHeader, extraValue);
    if (!type.isEmpty())
        m_responder->writeHeader("Content-Type", type);
    if (status != Status::NoContent)
        m_responder->writeHeader("Content-Length", QByteArray::number(body.size()));
    if (m_closeAfter)
        m_responder->writeHeader("Connection", "close");
    m_responder->writeBody(body);
    if (m_closeAfter)
        m_socket->disconnectFromHost(); // once what is written is out
}

void WebReply::Json(const QJsonDocument& document, Status status, const QByteArray& extraHeader,
                    const QByteArray& extraValue)
{
    Bytes(document.toJson(QJsonDocument::Compact), "application/json", status, extraHeader,
          extraValue);
}

void WebReply::Error(Status status, const QString& code, const QString& message,
                     const QByteArray& extraHeader, const QByteArray& extraValue)
{
    Bytes(ErrorBody(code, message), "application/json", status, extraHeader, extraValue);
}

void WebReply::Empty(Status status, const QByteArray& extraHeader, const QByteArray& extraValue)
{
    Bytes(QByteArray(), QByteArray(), status, extraHeader, extraValue);
}

void WebReply::Stream(QIODevice* device, const QByteArray& disposition)
{
    if (!Open()) {
        m_done = true;
        delete device;
        return;
    }
    m_done = true;
    const QByteArray cache = m_api ? QByteArray("no-store") : QByteArray("no-cache");
    m_responder->write(device, {{"Content-Type", "application/octet-stream"},
                                {"Content-Disposition", disposition},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "DENY"},
                                {"Cache-Control", cache}});
}

} // namespace tapeway
