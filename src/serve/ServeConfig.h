// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LinkSettings.h"
#include "serve/HttpConfig.h"
#include "transfer/TapeProfile.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tapeway {

// What a line of the service does with its machine.
enum class LineMode
{
    Receive, // the machine punches programs into the inbox
    Send,    // the machine reads the programs queued in the outbox
    Both,    // waits as Receive; answers the machine's request from the outbox
};

QString ModeName(LineMode mode);

// The device a port name means, so that two spellings of one port compare
// equal: COM3 and /dev/ttyS2, a /dev/serial/by-id link and its device.
QString PortKey(const QString& port);

// One section of the service's configuration: one machine on one port.
struct LineConfig
{
    QString name;
    int sourceLine = 0; // where its section opens in the file
    LineMode mode = LineMode::Receive;
    LinkSettings link; // link.portName is the port as written
    QString inbox;     // absolute; empty for a send line
    QString outbox;    // absolute; empty for a receive line
    // absolute; the line's checked programs, which requests may ask for and
    // approved programs go into; empty when it has none
    QString library;
    // Received programs wait in the inbox's pending/ until approved into the
    // library or rejected.
    bool approve = false;
    int baud = 9600; // announced when sending; a tape line's speed
    // The tape protocol's settings (a profile with the line's own keys over
    // it); nothing for a line of the packet protocol.
    std::optional<TapeProfile> tape;
    // A received program of this number is a request from the machine's
    // panel (empty: none is); replies to requests carry replyNumber.
    QString requestNumber = QStringLiteral("O9999");
    QString replyNumber = QStringLiteral("O9998");

    bool Receives() const { return mode != LineMode::Send; }
    // "packet" or "tape".
    QString ProtocolName() const;
    bool Sends() const { return mode != LineMode::Receive; }
    // Everything but where the section stands in the file.
    bool SameSetup(const LineConfig& other) const;
};

// The service's configuration file: an INI file with one section per line.
// Keys before the first section are the general part: Profiles=PATH names
// the file of the operator's own tape profiles (else the one beside the
// settings). The section [HTTP] is no line: it sets the office view's web
// server (HttpSection). Every fault is one entry of errors, "FILE:LINE: reason"; a
// configuration with errors is not used.
struct ServeConfig
{
    QString path;
    QList<LineConfig> lines;
    std::optional<HttpConfig> http; // [HTTP]; none: no web server
    QStringList errors;

    bool IsValid() const { return errors.isEmpty(); }

    static ServeConfig Load(const QString& path);
    // Relative folders are taken from the directory of path.
    static ServeConfig Parse(const QByteArray& text, const QString& path);
};

} // namespace tapeway
