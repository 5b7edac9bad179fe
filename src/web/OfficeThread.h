// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/HttpConfig.h"

#include <QObject>
#include <QThread>

namespace tapeway {

class OfficeDesk;
class OfficeServer;

// The office view's web server on a thread of its own. Qt's HTTP server
// reads and copies a request's whole body on its thread (a 64 MB upload
// holds it for tens of milliseconds), and downloads are read there too: on
// the service's thread that would hold up every line. The server reaches
// the desk through queued calls only (DeskClient), so neither thread waits
// for the other while the service runs. Made and used on the desk's thread;
// the desk must outlive it.
class OfficeThread : public QObject
{
    Q_OBJECT
public:
    OfficeThread(const HttpConfig& config, OfficeDesk* desk, QObject* parent = nullptr);
    // Stops the server (on its thread) and the thread.
    ~OfficeThread() override;

    // Starts the thread and, on it, the server (users file, certificate,
    // listening); false with the reason. Returns once the server listens,
    // so it is called when the service starts, before its loop runs.
    bool Start(QString* error);
    // http://HOST:PORT/ (https with TLS), the port really bound.
    QString Url() const { return m_url; }

signals:
    // A line for the service's log, on this object's thread.
    void Message(const QString& text);

private:
    HttpConfig m_config;
    OfficeDesk* m_desk;
    QThread m_thread;
    QObject* m_anchor = nullptr;      // lives on m_thread: where the server is made and ended
    OfficeServer* m_server = nullptr; // lives on m_thread
    QString m_url;
};

} // namespace tapeway
