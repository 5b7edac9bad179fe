// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/RequestGate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace tapeway {

// Stands between a client's socket and the HTTP server: sees every chunk
// the client sends before the server reads it (its readyRead slot is
// connected first) and acts on what its RequestGate says: "100 Continue",
// or a refusal answered at once, after which everything the client still
// sends is read and dropped and the connection closes once the answer is
// out. The server's parser never sees a refused body. A child of the socket.
class ConnectionGuard : public QObject
{
    Q_OBJECT
public:
    ConnectionGuard(QTcpSocket* socket, qint64 maxBody, int timeoutMs);

private:
    void OnReadyRead();
    void OnWritten();
    void OnTimer();
    void Act(RequestGate::Action action);
    void ArmTimer();
    void NoteLeftover();

    QTcpSocket* m_socket;
    QElapsedTimer m_clock;
    RequestGate m_gate;
    QTimer m_timer;
    QTimer m_linger;
    qint64 m_leftover = 0; // bytes the server left unread, already seen
    bool m_noteQueued = false;
    bool m_refused = false;
};

} // namespace tapeway
