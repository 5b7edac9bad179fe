// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/VirtualNullModem.h"

#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#endif

namespace tapeway {

#ifdef Q_OS_UNIX

namespace {

// Bytes waiting for an end that does not read before newer ones are dropped.
constexpr size_t kMaxBacklog = 1 << 20;
constexpr int kReadChunk = 4096;
// How often a stopped end's status is looked at. The kernel wakes a master's
// pollers for a new status as for data (POLLIN), and a stopped UART cannot
// ask for data without being woken at once by what waits in the kernel.
constexpr qint64 kStoppedLookNs = 1000000;

qint64 NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int BaudOf(speed_t speed)
{
    struct Entry
    {
        speed_t code;
        int baud;
    };
    static const Entry table[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
        {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
        {B57600, 57600},   {B115200, 115200}, {B230400, 230400},
#ifdef B460800
        {B460800, 460800},
#endif
#ifdef B921600
        {B921600, 921600},
#endif
    };
    for (const Entry& entry : table) {
        if (entry.code == speed)
            return entry.baud;
    }
    return 0;
}

void SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

QString SystemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

constexpr quint8 kXon = 0x11;
constexpr quint8 kXoff = 0x13;

// One direction of the cable.
struct Lane
{
    UartModel uart;       // paced: the sending end's UART
    std::string out;      // delivered, not yet taken by the receiving end
    qint64 readIndex = 0; // bytes read from the sending end, for the tap
    bool sourceGone = false;
    bool heldByXoff = false; // a DC3 went the other way and no DC1 after it
    qint64 xonHandedNs = -1; // a DC1 reached the sending end, not yet answered
};

} // namespace

VirtualNullModem::VirtualNullModem() = default;

VirtualNullModem::~VirtualNullModem()
{
    Stop();
}

void VirtualNullModem::SetTap(Direction direction, Tap tap)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_taps[direction] = std::move(tap);
}

int VirtualNullModem::SpeedOf(Direction end) const
{
    const int fd = m_sides[end].keptSlave;
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0)
        return 0;
    return BaudOf(cfgetospeed(&tio));
}

bool VirtualNullModem::Start()
{
    if (m_thread.joinable())
        return !m_finished;
    m_stopRequested = false;
    m_hangUpRequested = false;
    m_finished = false;
    for (Side& side : m_sides) {
        side.master = posix_openpt(O_RDWR | O_NOCTTY);
        if (side.master < 0 || grantpt(side.master) != 0 || unlockpt(side.master) != 0) {
            m_lastError = SystemError("posix_openpt");
            CloseEnds();
            return false;
        }
        fcntl(side.master, F_SETFD, FD_CLOEXEC);
        char name[128] = {};
        if (ptsname_r(side.master, name, sizeof name) != 0) {
            m_lastError = SystemError("ptsname");
            CloseEnds();
            return false;
        }
        side.path = QString::fromLocal8Bit(name);
        side.keptSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (side.keptSlave < 0) {
            m_lastError = SystemError("open");
            CloseEnds();
            return false;
        }
        // Raw at once: no echo, no line editing, until a port sets its own.
        termios tio{};
        if (tcgetattr(side.keptSlave, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B9600);
            cfsetospeed(&tio, B9600);
            tcsetattr(side.keptSlave, TCSANOW, &tio);
        }
        SetNonBlocking(side.master);
        // Packet mode: each read starts with a status byte, which also says
        // when the kernel stopped or started the end's output (IXON).
        int packet = m_paced ? 1 : 0;
        if (ioctl(side.master, TIOCPKT, &packet) != 0) {
            m_lastError = SystemError("TIOCPKT");
            CloseEnds();
            return false;
        }
    }
    if (pipe(m_wakePipe) != 0) {
        m_lastError = SystemError("pipe");
        m_wakePipe[0] = m_wakePipe[1] = -1;
        CloseEnds();
        return false;
    }
    for (int fd : m_wakePipe) {
        SetNonBlocking(fd);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    for (int d = 0; d < 2; ++d) {
        m_forwarded[d] = 0;
        m_garbled[d] = 0;
        m_dropped[d] = 0;
        m_afterXoff[d] = 0;
        m_mostAfterXoff[d] = 0;
        m_mostXonAnswerUs[d] = 0;
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

void VirtualNullModem::Stop()
{
    if (m_thread.joinable()) {
        m_stopRequested = true;
        const char wake = 's';
        [[maybe_unused]] const ssize_t n = write(m_wakePipe[1], &wake, 1);
        m_thread.join();
    }
    CloseEnds();
}

void VirtualNullModem::HangUp()
{
    if (!m_thread.joinable() || m_finished) {
        CloseEnds();
        return;
    }
    m_hangUpRequested = true;
    const char wake = 'h';
    [[maybe_unused]] const ssize_t n = write(m_wakePipe[1], &wake, 1);
    // The thread closes the ends itself so that no descriptor it polls goes
    // away under it; this waits until it has.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finishedChanged.wait_for(lock, std::chrono::seconds(5), [this] { return bool(m_finished); });
}

void VirtualNullModem::CloseEnds()
{
    for (Side& side : m_sides) {
        if (side.master >= 0)
            close(side.master);
        if (side.keptSlave >= 0)
            close(side.keptSlave);
        side.master = -1;
        side.keptSlave = -1;
    }
    for (int& fd : m_wakePipe) {
        if (fd >= 0 && !m_thread.joinable())
            close(fd), fd = -1;
    }
}

void VirtualNullModem::Run()
{
    if (m_paced) {
        // Speed changes follow the last byte within milliseconds; the modem
        // must pick a byte up before that. Where the system allows it, the
        // thread runs ahead of ordinary work; it sleeps in ppoll otherwise.
        sched_param param{};
        param.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    }
    Lane lanes[2];
    int speeds[2] = {0, 0};
    for (int d = 0; d < 2; ++d)
        lanes[d].uart.SetFrame(m_frames[d]);

    auto readSpeeds = [&] {
        speeds[AToB] = SpeedOf(AToB);
        speeds[BToA] = SpeedOf(BToA);
    };
    // A byte has reached the receiving end of lane d. A DC3 holds the other
    // direction for the count of bytes after XOFF, a DC1 frees it.
    auto arrive = [&](int d, quint8 byte) {
        lanes[d].out.push_back(char(byte));
        if (lanes[d].heldByXoff) {
            const qint64 count = ++m_afterXoff[d];
            if (count > m_mostAfterXoff[d])
                m_mostAfterXoff[d] = count;
        }
        const quint8 data = byte & m_frames[d].DataMask();
        if (data == kXoff) {
            lanes[1 - d].heldByXoff = true;
            m_afterXoff[1 - d] = 0;
        } else if (data == kXon) {
            lanes[1 - d].heldByXoff = false;
            m_afterXoff[1 - d] = 0;
        }
    };
    // Moves the bytes of both lanes off the wire up to now, in the order
    // their last stop bits left it.
    auto advance = [&](qint64 now) {
        for (;;) {
            int d = -1;
            qint64 end = 0;
            for (int e = 0; e < 2; ++e) {
                const std::optional<qint64> due = lanes[e].uart.NextEndNs();
                if (due && *due <= now && (d < 0 || *due < end))
                    d = e, end = *due;
            }
            if (d < 0)
                return;
            const UartModel::Character sent = *lanes[d].uart.Deliver(now, speeds[d]);
            quint8 byte = sent.byte;
            if (speeds[d] != sent.baud || speeds[1 - d] != sent.baud) {
                byte ^= kGarbleMask;
                ++m_garbled[d];
            }
            arrive(d, byte);
        }
    };
    // Takes what the sending end of lane d wrote, as far as its UART has
    // room (all of it unpaced); in packet mode a status byte comes first.
    auto readEnd = [&](int d) {
        Lane& lane = lanes[d];
        char buffer[kReadChunk + 1];
        const int room = m_paced ? lane.uart.Room() : kReadChunk;
        const size_t header = m_paced ? 1 : 0;
        const ssize_t n = read(m_sides[d].master, buffer, header + size_t(room));
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            // Cannot happen while the kept end is open; never poll it again.
            lane.sourceGone = true;
            return;
        }
        const qint64 arrived = NowNs();
        if (lane.xonHandedNs >= 0 && n > ssize_t(header) &&
            (!m_paced || buffer[0] == TIOCPKT_DATA)) {
            const qint64 us = (arrived - lane.xonHandedNs) / 1000;
            if (us > m_mostXonAnswerUs[d])
                m_mostXonAnswerUs[d] = us;
            lane.xonHandedNs = -1;
        }
        if (m_paced && buffer[0] != TIOCPKT_DATA) {
            const int status = quint8(buffer[0]);
            if (status & TIOCPKT_STOP)
                lane.uart.SetStopped(true);
            if (status & TIOCPKT_START)
                lane.uart.SetStopped(false);
            return;
        }
        const int pickupBaud = m_paced ? SpeedOf(Direction(d)) : 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (ssize_t i = ssize_t(header); i < n; ++i) {
            quint8 byte = quint8(buffer[i]);
            const qint64 index = lane.readIndex++;
            if (m_taps[d] && !m_taps[d](byte, index)) {
                ++m_dropped[d];
                continue;
            }
            // The first byte of a read starts at once when the wire is free,
            // at the speed seen when it was picked up; the rest queue.
            if (m_paced)
                lane.uart.Take(byte, arrived, pickupBaud);
            else
                arrive(d, byte);
        }
    };

    while (!m_stopRequested && !m_hangUpRequested) {
        const qint64 now = NowNs();
        if (m_paced) {
            readSpeeds();
            advance(now);
        }
        // Hand delivered bytes to the receiving ends.
        for (int d = 0; d < 2; ++d) {
            Lane& lane = lanes[d];
            while (!lane.out.empty()) {
                const ssize_t n = write(m_sides[1 - d].master, lane.out.data(), lane.out.size());
                if (n <= 0)
                    break;
                // An XON handed to the other end: its answer is timed.
                for (ssize_t i = 0; i < n; ++i) {
                    if ((quint8(lane.out[size_t(i)]) & m_frames[d].DataMask()) == kXon)
                        lanes[1 - d].xonHandedNs = NowNs();
                }
                m_forwarded[d] += n;
                lane.out.erase(0, size_t(n));
            }
            if (lane.out.size() > kMaxBacklog) {
                m_dropped[d] += qint64(lane.out.size() - kMaxBacklog);
                lane.out.erase(0, lane.out.size() - kMaxBacklog);
            }
        }

        pollfd fds[5] = {};
        int count = 0;
        fds[count++] = {m_wakePipe[0], POLLIN, 0};
        int readSlot[2] = {-1, -1};
        for (int d = 0; d < 2; ++d) {
            if (!lanes[d].sourceGone) {
                // A full or stopped UART leaves the bytes in the kernel but
                // still hears when the end is stopped or started.
                const bool room = !m_paced || lanes[d].uart.Room() > 0;
                readSlot[d] = count;
                fds[count++] = {m_sides[d].master, short((room ? POLLIN : 0) | POLLPRI), 0};
            }
            if (!lanes[d].out.empty())
                fds[count++] = {m_sides[1 - d].master, POLLOUT, 0};
        }
        qint64 waitNs = -1;
        for (const Lane& lane : lanes) {
            std::optional<qint64> wait;
            if (const std::optional<qint64> due = lane.uart.NextEndNs())
                wait = std::max<qint64>(*due - now, 0);
            if (lane.uart.GetState() == UartModel::State::Stopped)
                wait = std::min(wait.value_or(kStoppedLookNs), kStoppedLookNs);
            if (wait)
                waitNs = waitNs < 0 ? *wait : std::min(waitNs, *wait);
        }
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (waitNs >= 0) {
            timeout.tv_sec = time_t(waitNs / 1000000000);
            timeout.tv_nsec = long(waitNs % 1000000000);
            timeoutPtr = &timeout;
        }
        if (ppoll(fds, nfds_t(count), timeoutPtr, nullptr) < 0 && errno != EINTR)
            break;

        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (read(m_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        for (int d = 0; d < 2; ++d) {
            if (readSlot[d] >= 0 &&
                (fds[readSlot[d]].revents & (POLLIN | POLLPRI | POLLHUP | POLLERR)))
                readEnd(d);
        }
    }

    if (m_hangUpRequested) {
        // Closing the masters hangs up both ends; the kept descriptors go too.
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Side& side : m_sides) {
            if (side.master >= 0)
                close(side.master);
            if (side.keptSlave >= 0)
                close(side.keptSlave);
            side.master = -1;
            side.keptSlave = -1;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_finishedChanged.notify_all();
}

#else // not POSIX

VirtualNullModem::VirtualNullModem() = default;
VirtualNullModem::~VirtualNullModem() = default;
void VirtualNullModem::SetTap(Direction direction, Tap tap)
{
    m_taps[direction] = std::move(tap);
}
int VirtualNullModem::SpeedOf(Direction) const
{
    return 0;
}
bool VirtualNullModem::Start()
{
    m_lastError = QStringLiteral("A virtual null-modem needs pseudo-terminals.");
    return false;
}
void VirtualNullModem::Stop() {}
void VirtualNullModem::HangUp() {}
void VirtualNullModem::CloseEnds() {}
void VirtualNullModem::Run() {}

#endif

} // namespace tapeway
