// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/OfficeThread.h"

#include "serve/OfficeDesk.h"
#include "web/OfficeServer.h"

namespace tapeway {

OfficeThread::OfficeThread(const HttpConfig& config, OfficeDesk* desk, QObject* parent)
    : QObject(parent), m_config(config), m_desk(desk)
{
    m_thread.setObjectName(QStringLiteral("office view"));
}

OfficeThread::~OfficeThread()
{
    if (!m_thread.isRunning())
        return;
    // The server's thread never waits for this one, so this wait ends.
    QMetaObject::invokeMethod(
        m_anchor,
        [this] {
            delete m_server;
            m_server = nullptr;
            delete m_anchor;
            m_anchor = nullptr;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool OfficeThread::Start(QString* error)
{
    // Read here, on the desk's thread; the server keeps it until the desk
    // sends the next one.
    const QJsonObject status = m_desk->Status();
    m_thread.start();
    m_anchor = new QObject;
    m_anchor->moveToThread(&m_thread);
    bool started = false;
    QString reason;
    // Everything the server owns is made on its thread, timers included.
    QMetaObject::invokeMethod(
        m_anchor,
        [&] {
            m_server = new OfficeServer(m_config, m_desk, status);
            connect(m_server, &OfficeServer::Message, this, &OfficeThread::Message);
            started = m_server->Start(&reason);
            if (started) {
                m_url = m_server->Url();
            } else {
                delete m_server;
                m_server = nullptr;
            }
        },
        Qt::BlockingQueuedConnection);
    if (!started)
        *error = reason;
    return started;
}

} // namespace tapeway
