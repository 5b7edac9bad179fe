// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/SignalNotifier.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tapeway {

#ifdef Q_OS_UNIX

namespace {

int g_pipe[2] = {-1, -1};
struct sigaction g_oldInt;
struct sigaction g_oldTerm;
struct sigaction g_oldHup;

extern "C" void OnSignal(int signalNumber)
{
    const int saved = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalNotifier::SignalNotifier(QObject* parent) : QObject(parent)
{
    if (::pipe(g_pipe) != 0)
        return;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalNotifier::OnReadable);

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &g_oldInt);
    ::sigaction(SIGTERM, &action, &g_oldTerm);
    ::sigaction(SIGHUP, &action, &g_oldHup);
}

SignalNotifier::~SignalNotifier()
{
    if (g_pipe[0] < 0)
        return;
    ::sigaction(SIGINT, &g_oldInt, nullptr);
    ::sigaction(SIGTERM, &g_oldTerm, nullptr);
    ::sigaction(SIGHUP, &g_oldHup, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SignalNotifier::OnReadable()
{
    // A SIGHUP and a SIGTERM in one read are two events; a signal repeated
    // at once is one.
    char bytes[16];
    const ssize_t n = ::read(g_pipe[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i) {
        if (i == 0 || bytes[i] != bytes[i - 1])
            emit Interrupted(int(quint8(bytes[i])));
    }
}

#else

SignalNotifier::SignalNotifier(QObject* parent) : QObject(parent) {}
SignalNotifier::~SignalNotifier() = default;
void SignalNotifier::OnReadable() {}

#endif

} // namespace tapeway
