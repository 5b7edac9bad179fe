// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QString>

namespace tapeway {

// The [HTTP] section of the service's configuration: the office view, a web
// page and its API served by the service itself. Absent: no web server.
struct HttpConfig
{
    static constexpr qint64 kDefaultMaxUpload = 64LL * 1024 * 1024;
    static constexpr int kDefaultClientTimeoutS = 30;

    int sourceLine = 0;   // where the section opens in the file
    QHostAddress address; // Listen=ADDRESS:PORT (127.0.0.1:8470, [::1]:8470, 0.0.0.0:8470)
    quint16 port = 8470;  // 0: any free port (the log says which)
    QString users;        // absolute; the users file (tapeway-cli user); empty: none
    QString certificate;  // absolute; PEM; with key: HTTPS
    QString key;          // absolute; PEM
    qint64 maxUpload = kDefaultMaxUpload; // MaxUpload=BYTES (64M, 512K accepted)
    int clientTimeoutS = kDefaultClientTimeoutS; // ClientTimeout=SECONDS

    bool Tls() const { return !certificate.isEmpty(); }
    bool Loopback() const { return address.isLoopback(); }
    bool operator==(const HttpConfig& other) const = default;
};

} // namespace tapeway
