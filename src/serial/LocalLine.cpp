// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/LocalLine.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/major.h>
#include <linux/serial.h>
#include <sys/sysmacros.h>
#endif

namespace tapeway {

namespace {

bool IsBreakError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::DeviceNotFoundError:
        return true;
    default:
        return false;
    }
}

QSerialPort::Parity ParityOf(char letter)
{
    switch (letter) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits StopBitsOf(int tenths)
{
    switch (tenths) {
    case 15:
        return QSerialPort::OneAndHalfStop;
    case 20:
        return QSerialPort::TwoStop;
    default:
        return QSerialPort::OneStop;
    }
}

QSerialPort::FlowControl FlowOf(FlowControl flow)
{
    switch (flow) {
    case FlowControl::Hardware:
        return QSerialPort::HardwareControl;
    case FlowControl::Software:
        return QSerialPort::SoftwareControl;
    default:
        return QSerialPort::NoFlowControl;
    }
}

// Whether the open device is the slave end of a pseudo-terminal, by its
// device number: the Unix 98 pty slave majors (136 to 143) or the legacy BSD
// one (3). Containers give their own /dev/pts the same numbers.
bool IsPseudoTerminal(int fd)
{
#ifdef Q_OS_LINUX
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    const unsigned int number = major(status.st_rdev);
    return (number >= UNIX98_PTY_SLAVE_MAJOR &&
            number < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT) ||
           number == PTY_SLAVE_MAJOR;
#else
    Q_UNUSED(fd);
    return false;
#endif
}

} // namespace

LocalLine::LocalLine(const QString& device, QObject* parent)
    : LineTransport(parent), m_port(new QSerialPort(this)), m_device(device)
{
    connect(m_port, &QSerialPort::readyRead, this, &LineTransport::ReadyRead);
    connect(m_port, &QSerialPort::bytesWritten, this, &LineTransport::HandedOver);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { OnError(int(error)); });
}

LocalLine::~LocalLine()
{
    Close();
}

bool LocalLine::Open(QString* error)
{
    if (m_port->isOpen())
        return true;
    m_port->setPortName(m_device);
    // A plain frame format for the open itself; the chosen one follows, so
    // that a format the device refuses does not fail the open.
    m_port->setBaudRate(9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_quietErrors = true;
    const bool opened = m_port->open(QIODevice::ReadWrite);
    m_quietErrors = false;
    if (!opened) {
        if (error)
            *error = m_port->errorString();
        m_port->clearError();
        return false;
    }
    m_broken = false;

    // DTR and RTS stay low; a pseudo-terminal has no modem lines and refuses.
    m_quietErrors = true;
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->setDataTerminalReady(false);
    m_port->setRequestToSend(false);
    m_port->clearError();
    m_quietErrors = false;
    m_flow = FlowControl::None;
    m_marksParity = false;
    m_pseudoTerminal = IsPseudoTerminal(int(m_port->handle()));
    m_plainInputFlags = 0;
#ifdef Q_OS_UNIX
    termios settings{};
    if (::tcgetattr(int(m_port->handle()), &settings) == 0)
        m_plainInputFlags = settings.c_iflag;
#endif
    RequestLowLatency();
    return true;
}

void LocalLine::Close()
{
    if (m_port->isOpen()) {
        RestoreLatency();
        m_port->close();
    }
    m_port->clearError();
}

bool LocalLine::IsOpen() const
{
    return m_port->isOpen();
}

bool LocalLine::SetFormat(const LineFormat& format)
{
    if (!m_port->isOpen())
        return false;
    m_quietErrors = true;
    // A pseudo-terminal keeps 8 data bits without parity whatever is asked.
    bool ok = m_port->setBaudRate(format.baud);
    ok = ok && (m_port->setDataBits(QSerialPort::DataBits(format.dataBits)) || m_pseudoTerminal);
    ok = ok && (m_port->setParity(ParityOf(format.parity)) || m_pseudoTerminal);
    ok = ok && m_port->setStopBits(StopBitsOf(format.stopTenths));
    ok = ok && m_port->setFlowControl(FlowOf(format.flow));
    if (ok) {
        // RTS was the driver's under RTS/CTS; without it the line holds it
        // low again, as at the open.
        if (m_flow == FlowControl::Hardware && format.flow != FlowControl::Hardware)
            m_port->setRequestToSend(false);
        m_flow = format.flow;
    }
    ok = ok && ApplyTerminalSettings(format);
    m_port->clearError();
    m_quietErrors = false;
    return ok;
}

bool LocalLine::ApplyTerminalSettings(const LineFormat& format)
{
    m_marksParity = false;
#ifdef Q_OS_UNIX
    const int fd = int(m_port->handle());
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    termios wanted = settings;
    constexpr tcflag_t kParityFlags = INPCK | PARMRK | IGNPAR | ISTRIP | IGNBRK | BRKINT;
    if (format.parity == 'N') {
        wanted.c_iflag =
            (wanted.c_iflag & ~kParityFlags) | (tcflag_t(m_plainInputFlags) & kParityFlags);
    } else {
        wanted.c_iflag |= INPCK | PARMRK;
        wanted.c_iflag &= ~(IGNPAR | ISTRIP | IGNBRK | BRKINT);
    }
    if (format.flow == FlowControl::Software) {
        wanted.c_iflag |= IXON | IXOFF;
        wanted.c_iflag &= ~IXANY;
        wanted.c_cc[VSTART] = 0x11;
        wanted.c_cc[VSTOP] = 0x13;
    } else {
        wanted.c_iflag &= ~(IXON | IXOFF | IXANY);
    }
    if (wanted.c_iflag != settings.c_iflag || wanted.c_cc[VSTART] != settings.c_cc[VSTART] ||
        wanted.c_cc[VSTOP] != settings.c_cc[VSTOP]) {
        // tcsetattr succeeds when any part was taken: what holds is read back.
        termios now{};
        if (::tcsetattr(fd, TCSANOW, &wanted) != 0 || ::tcgetattr(fd, &now) != 0 ||
            now.c_iflag != wanted.c_iflag)
            return false;
    }
    m_marksParity = format.parity != 'N';
    return true;
#else
    Q_UNUSED(format);
    return true;
#endif
}

void LocalLine::Write(const QByteArray& bytes)
{
    if (m_port->isOpen())
        m_port->write(bytes);
}

qint64 LocalLine::BytesAvailable() const
{
    return m_port->isOpen() ? m_port->bytesAvailable() : 0;
}

bool LocalLine::InputWaiting() const
{
    if (!m_port->isOpen())
        return false;
    if (m_port->bytesAvailable() > 0)
        return true;
#ifdef Q_OS_UNIX
    int inDriver = 0;
    return ::ioctl(int(m_port->handle()), FIONREAD, &inDriver) == 0 && inDriver > 0;
#else
    return false;
#endif
}

QByteArray LocalLine::ReadAll()
{
    return m_port->isOpen() ? m_port->readAll() : QByteArray();
}

void LocalLine::PurgeInput()
{
    if (!m_port->isOpen())
        return;
    m_quietErrors = true;
    m_port->clear(QSerialPort::Input);
    m_port->clearError();
    m_quietErrors = false;
    if (m_port->bytesAvailable() > 0)
        m_port->readAll();
}

void LocalLine::PurgeOutput()
{
    if (!m_port->isOpen())
        return;
    m_quietErrors = true;
    m_port->clear(QSerialPort::Output);
    m_port->clearError();
    m_quietErrors = false;
}

qint64 LocalLine::BytesQueued() const
{
    if (!m_port->isOpen())
        return 0;
    qint64 queued = m_port->bytesToWrite();
#ifdef Q_OS_UNIX
    int inDriver = 0;
    if (::ioctl(int(m_port->handle()), TIOCOUTQ, &inDriver) == 0)
        queued += inDriver;
#endif
    return queued;
}

qint64 LocalLine::BytesNotHandedOver() const
{
    return m_port->isOpen() ? m_port->bytesToWrite() : 0;
}

bool LocalLine::ReportsDriverQueue() const
{
#ifdef Q_OS_UNIX
    return m_port->isOpen() && !m_pseudoTerminal;
#else
    return false;
#endif
}

bool LocalLine::MarksParityErrors() const
{
    return m_port->isOpen() && m_marksParity;
}

void LocalLine::OnError(int error)
{
    const auto code = QSerialPort::SerialPortError(error);
    if (code == QSerialPort::NoError || m_quietErrors || m_broken || !m_port->isOpen())
        return;
    if (!IsBreakError(code))
        return;
    m_broken = true;
    emit Broken(m_port->errorString());
}

void LocalLine::RequestLowLatency()
{
    m_latencyChanged = false;
#ifdef Q_OS_LINUX
    // Pseudo-terminals and some drivers know no serial settings, or refuse
    // the change: the line then works as it is.
    const int fd = int(m_port->handle());
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    m_latencyWasLow = (serial.flags & ASYNC_LOW_LATENCY) != 0;
    if (m_latencyWasLow)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    m_latencyChanged = ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
#endif
}

void LocalLine::RestoreLatency()
{
#ifdef Q_OS_LINUX
    if (!m_latencyChanged)
        return;
    m_latencyChanged = false;
    // Only the flag this line changed goes back; a device already gone
    // refuses, which is harmless.
    const int fd = int(m_port->handle());
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    if (m_latencyWasLow)
        serial.flags |= ASYNC_LOW_LATENCY;
    else
        serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#endif
}

} // namespace tapeway
