// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/LinkSettings.h"

#include "serial/SerialPort.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace tapeway {

QString ParityLetter(const QString& parityText)
{
    if (parityText == QLatin1String("EVENT"))
        return QStringLiteral("E");
    if (parityText == QLatin1String("ODD"))
        return QStringLiteral("O");
    return QStringLiteral("N");
}

QString SettingsText(int baud, const LinkSettings& link)
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baud)
        .arg(ParityLetter(link.parity), link.dataBits, link.stopBits);
}

int PortNumberOf(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && !(text[i] >= u'0' && text[i] <= u'9'))
        ++i;
    if (i == text.size())
        return -1;
    qint64 n = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        n = n * 10 + (text[i].unicode() - u'0');
        if (n > 0x7fffffff)
            return 0x7fffffff;
    }
    return int(n);
}

int LeadingInt(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 n = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        n = qMin<qint64>(n * 10 + (text[i].unicode() - u'0'), qint64(0x7fffffff) + 1);
    n = negative ? -n : n;
    return int(std::clamp<qint64>(n, qint64(-0x7fffffff) - 1, qint64(0x7fffffff)));
}

bool OpenPort(SerialPort& port, const LinkSettings& link, QString* error)
{
    bool result = true;
    if (port.GetPortOpen())
        port.SetPortOpen(false);
    if (!port.GetPortOpen()) {
        port.SetCommPort(link.portName);
        port.SetInBufferSize(8192);
        port.SetOutBufferSize(512);
        port.SetHandshaking(link.handshaking);
        if (!port.SetPortOpen(true)) {
            result = false;
            if (error)
                *error = port.LastError();
        }
    }
    // The line always starts at 9600 baud; the header agrees on the data speed.
    port.SetSettings(SettingsText(9600, link));
    port.SetInputMode(1);
    port.SetRThreshold(1);
    port.SetSThreshold(0);
    port.SetInputLen(0);
    port.SetInBufferCount(0);
    port.SetOutBufferCount(0);
    return result;
}

bool ApplyBaudRate(SerialPort& port, int baud, const LinkSettings& link)
{
    return port.SetSettings(SettingsText(baud, link));
}

PortOpenFailure DiagnoseOpenFailure(const QString& portName)
{
#ifdef Q_OS_UNIX
    if (portName.isEmpty() || portName.contains(QStringLiteral("://")))
        return PortOpenFailure::Other;
    QString device = portName;
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch com = comName.match(portName);
    if (com.hasMatch())
        device = QStringLiteral("/dev/ttyS%1").arg(com.captured(1).toInt() - 1);
    else if (!device.contains(u'/'))
        device = QStringLiteral("/dev/") + device;
    const QByteArray path = QFile::encodeName(device);
    if (::access(path.constData(), F_OK) != 0)
        return PortOpenFailure::Other;
    if (::access(path.constData(), R_OK | W_OK) != 0)
        return errno == EACCES || errno == EPERM ? PortOpenFailure::NoPermission
                                                 : PortOpenFailure::Other;
    // A device that opens but has no terminal settings (/dev/null, a plain
    // file) is no serial port, whatever holds it. Asked on a descriptor of
    // its own, without becoming its controlling terminal or waiting for it.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        termios settings{};
        const bool terminal = ::tcgetattr(fd, &settings) == 0 || errno != ENOTTY;
        ::close(fd);
        if (!terminal)
            return PortOpenFailure::NotSerialPort;
    } else if (errno == EISDIR) {
        return PortOpenFailure::NotSerialPort;
    }
    return PortOpenFailure::InUse;
#else
    Q_UNUSED(portName);
    return PortOpenFailure::Other;
#endif
}

void SendControlByte(SerialPort& port, char byte)
{
    port.SetOutput(QByteArray(1, byte));
}

} // namespace tapeway
