// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/NullModemRack.h"

#include "serial/VirtualNullModem.h"

#include <QtGlobal>
#include <algorithm>
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

// One direction of a pair: the sending end's UART and what it delivered that
// the receiving end has not yet taken.
struct NullModemRackLane
{
    UartModel uart;
    std::string out;
    bool sourceGone = false;
};

struct NullModemRack::Pair
{
    int master[2] = {-1, -1};
    int keptSlave[2] = {-1, -1}; // never read; keeps an end and its settings alive
    QString path[2];
    UartModel::Frame frames[2];
    NullModemRackLane lanes[2];
    int speeds[2] = {0, 0};

    std::atomic<qint64> forwarded[2] = {0, 0};
    std::atomic<qint64> garbled[2] = {0, 0};
    std::atomic<qint64> dropped[2] = {0, 0};
    std::atomic<qint64> firstNs[2] = {-1, -1};
    std::atomic<qint64> lastNs[2] = {-1, -1};
};

NullModemRack::NullModemRack(int pairs)
{
    for (int i = 0; i < pairs; ++i)
        m_pairs.push_back(std::make_unique<Pair>());
}

NullModemRack::~NullModemRack()
{
    Stop();
}

void NullModemRack::SetFrame(int pair, Direction direction, const UartModel::Frame& frame)
{
    m_pairs[size_t(pair)]->frames[direction] = frame;
}

QString NullModemRack::PortA(int pair) const
{
    return m_pairs[size_t(pair)]->path[AToB];
}

QString NullModemRack::PortB(int pair) const
{
    return m_pairs[size_t(pair)]->path[BToA];
}

qint64 NullModemRack::BytesForwarded(int pair, Direction direction) const
{
    return m_pairs[size_t(pair)]->forwarded[direction];
}

qint64 NullModemRack::BytesGarbled(int pair, Direction direction) const
{
    return m_pairs[size_t(pair)]->garbled[direction];
}

qint64 NullModemRack::BytesDropped(int pair, Direction direction) const
{
    return m_pairs[size_t(pair)]->dropped[direction];
}

qint64 NullModemRack::FirstArrivalNs(int pair, Direction direction) const
{
    return m_pairs[size_t(pair)]->firstNs[direction];
}

qint64 NullModemRack::LastArrivalNs(int pair, Direction direction) const
{
    return m_pairs[size_t(pair)]->lastNs[direction];
}

#ifdef Q_OS_UNIX

namespace {

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
    static const std::pair<speed_t, int> table[] = {
        {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    for (const auto& [code, baud] : table) {
        if (code == speed)
            return baud;
    }
    return 0;
}

int EndSpeed(int keptSlave)
{
    termios tio{};
    if (keptSlave < 0 || tcgetattr(keptSlave, &tio) != 0)
        return 0;
    return BaudOf(cfgetospeed(&tio));
}

QString SystemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

int NullModemRack::SpeedOf(int pair, Direction end) const
{
    return EndSpeed(m_pairs[size_t(pair)]->keptSlave[end]);
}

double NullModemRack::CpuSeconds() const
{
    clockid_t clock{};
    timespec ts{};
    if (!m_thread.joinable() ||
        pthread_getcpuclockid(const_cast<std::thread&>(m_thread).native_handle(), &clock) != 0 ||
        clock_gettime(clock, &ts) != 0)
        return 0.0;
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool NullModemRack::Start()
{
    if (m_thread.joinable())
        return true;
    for (const std::unique_ptr<Pair>& pair : m_pairs) {
        for (int e = 0; e < 2; ++e) {
            const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            pair->master[e] = master;
            char name[128] = {};
            if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
                ptsname_r(master, name, sizeof name) != 0) {
                m_lastError = SystemError("posix_openpt");
                CloseEnds();
                return false;
            }
            pair->path[e] = QString::fromLocal8Bit(name);
            pair->keptSlave[e] = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (pair->keptSlave[e] < 0) {
                m_lastError = SystemError("open");
                CloseEnds();
                return false;
            }
            // Raw at once: no echo, no line editing, until a port sets its own.
            termios tio{};
            if (tcgetattr(pair->keptSlave[e], &tio) == 0) {
                cfmakeraw(&tio);
                cfsetispeed(&tio, B9600);
                cfsetospeed(&tio, B9600);
                tcsetattr(pair->keptSlave[e], TCSANOW, &tio);
            }
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
            // Packet mode: each read starts with a status byte, which also
            // says when the kernel stopped or started the end's output.
            int packet = 1;
            if (ioctl(master, TIOCPKT, &packet) != 0) {
                m_lastError = SystemError("TIOCPKT");
                CloseEnds();
                return false;
            }
        }
        for (int d = 0; d < 2; ++d) {
            pair->lanes[d] = NullModemRackLane{};
            pair->lanes[d].uart.SetFrame(pair->frames[d]);
            pair->forwarded[d] = 0;
            pair->garbled[d] = 0;
            pair->dropped[d] = 0;
            pair->firstNs[d] = -1;
            pair->lastNs[d] = -1;
        }
    }
    m_stopRequested = false;
    m_steps = 0;
    m_mostLateUs = 0;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void NullModemRack::Stop()
{
    if (m_thread.joinable()) {
        m_stopRequested = true;
        m_thread.join();
    }
    CloseEnds();
}

void NullModemRack::CloseEnds()
{
    for (const std::unique_ptr<Pair>& pair : m_pairs) {
        for (int e = 0; e < 2; ++e) {
            if (pair->master[e] >= 0)
                close(pair->master[e]);
            if (pair->keptSlave[e] >= 0)
                close(pair->keptSlave[e]);
            pair->master[e] = -1;
            pair->keptSlave[e] = -1;
        }
    }
}

void NullModemRack::Run()
{
    // Speed changes follow the last byte within milliseconds; where the
    // system allows it, the thread runs ahead of ordinary work.
    sched_param param{};
    param.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

    // Moves the bytes of both lanes of a pair off the wire up to now, in the
    // order their last stop bits left it.
    auto advance = [](Pair& pair, qint64 now) {
        for (;;) {
            int d = -1;
            qint64 end = 0;
            for (int e = 0; e < 2; ++e) {
                const std::optional<qint64> due = pair.lanes[e].uart.NextEndNs();
                if (due && *due <= now && (d < 0 || *due < end))
                    d = e, end = *due;
            }
            if (d < 0)
                return;
            const UartModel::Character sent = *pair.lanes[d].uart.Deliver(now, pair.speeds[d]);
            quint8 byte = sent.byte;
            if (pair.speeds[d] != sent.baud || pair.speeds[1 - d] != sent.baud) {
                byte ^= VirtualNullModem::kGarbleMask;
                ++pair.garbled[d];
            }
            pair.lanes[d].out.push_back(char(byte));
            if (pair.firstNs[d] < 0)
                pair.firstNs[d] = sent.endNs;
            pair.lastNs[d] = sent.endNs;
        }
    };
    // Takes what the sending end of lane d wrote, as far as its UART has
    // room; a status byte comes first (packet mode).
    auto readEnd = [](Pair& pair, int d, qint64 now) {
        NullModemRackLane& lane = pair.lanes[d];
        char buffer[kReadChunk + 1];
        const ssize_t n = read(pair.master[d], buffer, 1 + size_t(lane.uart.Room()));
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            // Cannot happen while the kept end is open; never poll it again.
            lane.sourceGone = true;
            return;
        }
        if (buffer[0] != TIOCPKT_DATA) {
            const int status = quint8(buffer[0]);
            if (status & TIOCPKT_STOP)
                lane.uart.SetStopped(true);
            if (status & TIOCPKT_START)
                lane.uart.SetStopped(false);
            return;
        }
        // The first byte starts at once when the wire is free, at the speed
        // seen when it was picked up; the rest queue.
        for (ssize_t i = 1; i < n; ++i)
            lane.uart.Take(quint8(buffer[i]), now, pair.speeds[d]);
    };
    auto handOver = [](Pair& pair, int d) {
        NullModemRackLane& lane = pair.lanes[d];
        while (!lane.out.empty()) {
            const ssize_t n = write(pair.master[1 - d], lane.out.data(), lane.out.size());
            if (n <= 0)
                break;
            pair.forwarded[d] += n;
            lane.out.erase(0, size_t(n));
        }
        if (lane.out.size() > kMaxBacklog) {
            pair.dropped[d] += qint64(lane.out.size() - kMaxBacklog);
            lane.out.erase(0, lane.out.size() - kMaxBacklog);
        }
    };

    std::vector<pollfd> fds(m_pairs.size() * 2);
    qint64 nextStep = NowNs() + kStepNs;
    while (!m_stopRequested) {
        // Sleep to the next step, or less where a line starts or ends a
        // burst: an end writes to an idle wire, an end's flow state changes,
        // or the last byte a UART holds leaves the wire. Within a burst the
        // FIFO carries the line from one step to the next.
        qint64 wakeNs = nextStep;
        for (size_t p = 0; p < m_pairs.size(); ++p) {
            const Pair& pair = *m_pairs[p];
            for (int d = 0; d < 2; ++d) {
                const UartModel& uart = pair.lanes[d].uart;
                const bool idle = uart.Held() == 0 && uart.Room() > 0;
                fds[p * 2 + size_t(d)] = {pair.lanes[d].sourceGone ? -1 : pair.master[d],
                                          short((idle ? POLLIN : 0) | POLLPRI), 0};
                if (uart.Held() == 1)
                    wakeNs = std::min(wakeNs, *uart.NextEndNs());
            }
        }
        const qint64 waitNs = std::max<qint64>(wakeNs - NowNs(), 0);
        const timespec wait{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
        if (ppoll(fds.data(), nfds_t(fds.size()), &wait, nullptr) < 0 && errno != EINTR)
            break;
        const qint64 now = NowNs();
        if (now >= nextStep) {
            const qint64 lateUs = (now - nextStep) / 1000;
            if (lateUs > m_mostLateUs)
                m_mostLateUs = lateUs;
            ++m_steps;
            nextStep += kStepNs;
            if (now >= nextStep) // steps missed are not made up in a burst
                nextStep = now + kStepNs;
        }

        // Which ends wrote something or changed their flow state.
        for (size_t p = 0; p < m_pairs.size(); ++p) {
            const Pair& pair = *m_pairs[p];
            for (int d = 0; d < 2; ++d) {
                const NullModemRackLane& lane = pair.lanes[d];
                pollfd& fd = fds[p * 2 + size_t(d)];
                fd = {lane.sourceGone ? -1 : pair.master[d],
                      short((lane.uart.Room() > 0 ? POLLIN : 0) | POLLPRI), 0};
            }
        }
        const timespec zero{};
        if (ppoll(fds.data(), nfds_t(fds.size()), &zero, nullptr) < 0 && errno != EINTR)
            break;

        for (size_t p = 0; p < m_pairs.size(); ++p) {
            Pair& pair = *m_pairs[p];
            bool readable[2];
            bool busy = false;
            for (int d = 0; d < 2; ++d) {
                readable[d] = fds[p * 2 + size_t(d)].revents & (POLLIN | POLLPRI | POLLHUP);
                busy = busy || readable[d] || pair.lanes[d].uart.Held() > 0 ||
                       !pair.lanes[d].out.empty();
            }
            if (!busy)
                continue;
            pair.speeds[AToB] = EndSpeed(pair.keptSlave[AToB]);
            pair.speeds[BToA] = EndSpeed(pair.keptSlave[BToA]);
            advance(pair, now);
            for (int d = 0; d < 2; ++d) {
                handOver(pair, d);
                if (readable[d])
                    readEnd(pair, d, now);
            }
        }
    }
}

#else // not POSIX

int NullModemRack::SpeedOf(int, Direction) const
{
    return 0;
}
double NullModemRack::CpuSeconds() const
{
    return 0.0;
}
bool NullModemRack::Start()
{
    m_lastError = QStringLiteral("A null-modem rack needs pseudo-terminals.");
    return false;
}
void NullModemRack::Stop() {}
void NullModemRack::CloseEnds() {}
void NullModemRack::Run() {}

#endif

} // namespace tapeway
