#include "serial/LocalLine.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
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
    const bool ok = m_port->setBaudRate(format.baud) &&
                    m_port->setDataBits(QSerialPort::DataBits(format.dataBits)) &&
                    m_port->setParity(ParityOf(format.parity)) &&
                    m_port->setStopBits(StopBitsOf(format.stopTenths));
    m_port->clearError();
    m_quietErrors = false;
    return ok;
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
