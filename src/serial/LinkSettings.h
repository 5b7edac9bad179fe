// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

class SerialPort;

// What the operator chose for the line: port, data bits, parity and stop
// bits, as the texts of their boxes, and the flow control (a
// SerialPort::kHandshake value). The baud rate is read separately.
struct LinkSettings
{
    QString portName;
    QString dataBits = QStringLiteral("8");
    QString parity = QStringLiteral("NONE");
    QString stopBits = QStringLiteral("1");
    int handshaking = 0;
};

// "EVENT" gives "E", "ODD" gives "O", anything else "N" (compared exactly).
QString ParityLetter(const QString& parityText);

// "%d,%s,%s,%s": baud, parity letter, data bits and stop bits verbatim.
QString SettingsText(int baud, const LinkSettings& link);

// The number in a port name, -1 when it has no digit: COM12 gives 12,
// COM3A gives 3, USB2COM gives 2.
int PortNumberOf(const QString& text);

// The private-profile integer rule: leading white space, an optional sign and
// the leading digits; 0 when there are none ("12abc" 12, "abc" 0).
int LeadingInt(const QString& text);

// (Re)opens the line on the chosen port at 9600 baud with the transfer values
// and the chosen flow control: binary input, receive events from one byte, no transmit events, both
// buffers cleared. The settings, thresholds and clears are written even when
// the open failed. False only when opening failed; *error then holds the
// system's reason.
bool OpenPort(SerialPort& port, const LinkSettings& link, QString* error = nullptr);

// Rewrites the line settings with the given baud and the chosen frame format.
bool ApplyBaudRate(SerialPort& port, int baud, const LinkSettings& link);

// Why a port could not be opened, as far as the file system tells: the user
// may not use the device, the path is no serial port (it opens but is not a
// terminal), or the device is there and usable but held by another program
// (its lock, or an exclusive open). Other for everything else, a network
// port among them.
enum class PortOpenFailure
{
    Other,
    NoPermission,
    InUse,
    NotSerialPort,
};
PortOpenFailure DiagnoseOpenFailure(const QString& portName);

// Sends one protocol byte.
void SendControlByte(SerialPort& port, char byte);

} // namespace tapeway
