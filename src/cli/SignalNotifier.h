// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

namespace tapeway {

// Brings SIGINT, SIGTERM and SIGHUP (the terminal closed) into the event loop. The signal handler
// only writes the signal number into a pipe (async-signal-safe); a socket notifier on the other end
// raises Interrupted on the thread of the event loop, where the transfer can be cancelled like with
// the Cancel button. One instance at a time; the previous handlers come back when it is destroyed.
class SignalNotifier : public QObject
{
    Q_OBJECT
public:
    explicit SignalNotifier(QObject* parent = nullptr);
    ~SignalNotifier() override;

signals:
    void Interrupted(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tapeway
