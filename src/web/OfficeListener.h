// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/HttpConfig.h"

#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

namespace tapeway {

// The office view's listening socket. Every connection gets its guard
// (size and time limits) before the HTTP server sees it; with TLS the
// connection is handed over only once encrypted. At most kMaxConnections
// at once: more are closed at once.
class OfficeListener : public QTcpServer
{
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 128;

    OfficeListener(const HttpConfig& config, QObject* parent = nullptr);

    // Reads the certificate chain and the key (TLS); false with the reason.
    bool LoadTls(QString* error);
    int OpenConnections() const { return m_open; }

protected:
    void incomingConnection(qintptr handle) override;

private:
    void HandOver(QTcpSocket* socket);

    HttpConfig m_config;
    QList<QSslCertificate> m_chain;
    QSslKey m_key;
    int m_open = 0;
};

} // namespace tapeway
