// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QPointer>
#include <QString>
#include <memory>

class QTcpSocket;

namespace tapeway {

// Answers of the office view: every one carries the security headers; the
// API's are never cached; errors are JSON {"error","message"}. The
// responder is kept behind a shared pointer so that an answer can come
// later, from a job on another thread, or never when the client left.
class WebReply
{
public:
    using Status = QHttpServerResponder::StatusCode;

    WebReply(QHttpServerResponder&& responder, QTcpSocket* socket, bool api);

    // The client said "Connection: close": the connection ends after the
    // answer (a streamed file's ends when the client has it all).
    void SetCloseAfter(bool close) { m_closeAfter = close; }
    // False once answered or when the client left.
    bool Open() const;
    void Json(const QJsonDocument& document, Status status = Status::Ok,
              const QByteArray& extraHeader = {}, const QByteArray& extraValue = {});
    void Error(Status status, const QString& code, const QString& message,
               const QByteArray& extraHeader = {}, const QByteArray& extraValue = {});
    void Empty(Status status, const QByteArray& extraHeader = {},
               const QByteArray& extraValue = {});
    void Bytes(const QByteArray& body, const QByteArray& type, Status status = Status::Ok,
               const QByteArray& extraHeader = {}, const QByteArray& extraValue = {},
               bool page = false);
    // A file streamed from disk (the device is taken over and closed at the end).
    void Stream(QIODevice* device, const QByteArray& disposition);

    // The raw bytes of a whole error answer that closes the connection, for
    // the connection guard, which answers before the server saw a request.
    static QByteArray RawError(int status, const QByteArray& reason, const QString& code,
                               const QString& message);
    static QByteArray ErrorBody(const QString& code, const QString& message);
    static const QByteArray& PagePolicy();

private:
    void Headers(bool page);

    std::shared_ptr<QHttpServerResponder> m_responder;
    QPointer<QTcpSocket> m_socket;
    bool m_api;
    bool m_done = false;
    bool m_closeAfter = false;
};

} // namespace tapeway
