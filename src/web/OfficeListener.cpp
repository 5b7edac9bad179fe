// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/OfficeListener.h"

#include "web/ConnectionGuard.h"

#include <QFile>
#include <QSslSocket>

namespace tapeway {

OfficeListener::OfficeListener(const HttpConfig& config, QObject* parent)
    : QTcpServer(parent), m_config(config)
{
}

bool OfficeListener::LoadTls(QString* error)
{
    if (!m_config.Tls())
        return true;
    if (!QSslSocket::supportsSsl()) {
        *error = QStringLiteral("TLS is not available (no TLS library)");
        return false;
    }
    QFile certificate(m_config.certificate);
    if (!certificate.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_config.certificate, certificate.errorString());
        return false;
    }
    m_chain = QSslCertificate::fromData(certificate.readAll(), QSsl::Pem);
    if (m_chain.isEmpty() || m_chain.first().isNull()) {
        *error = QStringLiteral("%1: not a PEM certificate").arg(m_config.certificate);
        return false;
    }
    QFile key(m_config.key);
    if (!key.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_config.key, key.errorString());
        return false;
    }
    const QByteArray pem = key.readAll();
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        m_key = QSslKey(pem, algorithm, QSsl::Pem);
        if (!m_key.isNull())
            break;
    }
    if (m_key.isNull()) {
        *error = QStringLiteral("%1: not a PEM private key (or one with a passphrase)")
                     .arg(m_config.key);
        return false;
    }
    return true;
}

void OfficeListener::incomingConnection(qintptr handle)
{
    QTcpSocket* socket = m_config.Tls() ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    if (m_open >= kMaxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    // Connected before the server's own slots: a closed connection goes.
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    new ConnectionGuard(socket, m_config.maxUpload, m_config.clientTimeoutS * 1000);
    auto* tls = qobject_cast<QSslSocket*>(socket);
    if (!tls) {
        HandOver(socket);
        return;
    }
    tls->setLocalCertificateChain(m_chain);
    tls->setPrivateKey(m_key);
    tls->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(tls, &QSslSocket::encrypted, this, [this, tls] { HandOver(tls); });
    connect(tls, &QSslSocket::sslErrors, tls, [tls] { tls->abort(); });
    connect(tls, &QAbstractSocket::errorOccurred, tls, [tls] {
        if (!tls->isEncrypted())
            tls->abort();
    });
    tls->startServerEncryption();
}

void OfficeListener::HandOver(QTcpSocket* socket)
{
    addPendingConnection(socket);
    // Bytes that came with the handshake would wait for the next chunk:
    // the server reads on readyRead only.
    QMetaObject::invokeMethod(
        socket,
        [socket] {
            if (socket->bytesAvailable() > 0)
                emit socket->readyRead();
        },
        Qt::QueuedConnection);
}

} // namespace tapeway
