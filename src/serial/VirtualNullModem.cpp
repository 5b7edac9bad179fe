#include "serial/VirtualNullModem.h"

#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <deque>
#include <string>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
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

// One direction of the cable.
struct Lane
{
    struct Waiting
    {
        quint8 byte;
        qint64 arrivedNs;
        int pickupBaud; // the sender's speed right after the byte was read
    };
    std::deque<Waiting> waiting; // read from the sender, not yet on the wire
    bool onWire = false;
    quint8 wireByte = 0;
    int wireBaud = 0;
    qint64 wireEndNs = 0;
    qint64 lastEndNs = 0;
    std::string out; // delivered, not yet taken by the receiving end
    qint64 readIndex = 0;
    bool sourceGone = false;
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

    auto readSpeeds = [&] {
        speeds[AToB] = SpeedOf(AToB);
        speeds[BToA] = SpeedOf(BToA);
    };
    // Moves the bytes of lane d across the wire up to now.
    auto advance = [&](int d, qint64 now) {
        Lane& lane = lanes[d];
        const int receiver = 1 - d;
        for (;;) {
            if (!lane.onWire) {
                if (lane.waiting.empty())
                    return;
                const Lane::Waiting next = lane.waiting.front();
                lane.waiting.pop_front();
                const qint64 start = std::max(lane.lastEndNs, next.arrivedNs);
                // A byte that found the line free went out when it was
                // written, at the speed seen when it was picked up; one that
                // queued starts at the speed in force now.
                const int speed = start == next.arrivedNs ? next.pickupBaud : speeds[d];
                const int baud = speed > 0 ? speed : 9600;
                lane.onWire = true;
                lane.wireByte = next.byte;
                lane.wireBaud = speed;
                lane.wireEndNs = start + 10 * qint64(1000000000) / baud;
            }
            if (lane.wireEndNs > now)
                return;
            quint8 byte = lane.wireByte;
            if (speeds[d] != lane.wireBaud || speeds[receiver] != lane.wireBaud) {
                byte ^= kGarbleMask;
                ++m_garbled[d];
            }
            lane.out.push_back(char(byte));
            lane.lastEndNs = lane.wireEndNs;
            lane.onWire = false;
        }
    };

    while (!m_stopRequested && !m_hangUpRequested) {
        const qint64 now = NowNs();
        if (m_paced) {
            readSpeeds();
            advance(AToB, now);
            advance(BToA, now);
        }
        // Hand delivered bytes to the receiving ends.
        for (int d = 0; d < 2; ++d) {
            Lane& lane = lanes[d];
            while (!lane.out.empty()) {
                const ssize_t n = write(m_sides[1 - d].master, lane.out.data(), lane.out.size());
                if (n <= 0)
                    break;
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
            if (!lanes[d].sourceGone && lanes[d].waiting.size() < kMaxBacklog) {
                readSlot[d] = count;
                fds[count++] = {m_sides[d].master, POLLIN, 0};
            }
            if (!lanes[d].out.empty())
                fds[count++] = {m_sides[1 - d].master, POLLOUT, 0};
        }
        qint64 waitNs = -1;
        for (const Lane& lane : lanes) {
            if (lane.onWire || !lane.waiting.empty()) {
                const qint64 due = lane.onWire ? lane.wireEndNs - now : 0;
                waitNs = waitNs < 0 ? std::max<qint64>(due, 0)
                                    : std::min(waitNs, std::max<qint64>(due, 0));
            }
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
        const qint64 arrived = NowNs();
        for (int d = 0; d < 2; ++d) {
            if (readSlot[d] < 0 || !(fds[readSlot[d]].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[kReadChunk];
            const ssize_t n = read(m_sides[d].master, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0) {
                // Cannot happen while the kept end is open; never poll it again.
                lanes[d].sourceGone = true;
                continue;
            }
            const int pickupBaud = m_paced ? SpeedOf(Direction(d)) : 0;
            std::lock_guard<std::mutex> lock(m_mutex);
            for (ssize_t i = 0; i < n; ++i) {
                quint8 byte = quint8(buffer[i]);
                const qint64 index = lanes[d].readIndex++;
                if (m_taps[d] && !m_taps[d](byte, index)) {
                    ++m_dropped[d];
                    continue;
                }
                if (m_paced)
                    lanes[d].waiting.push_back({byte, arrived, pickupBaud});
                else
                    lanes[d].out.push_back(char(byte));
            }
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
