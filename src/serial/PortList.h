// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// The entries of the port combo box and the one to select.
struct PortList
{
    QStringList entries;
    int selected = 0;
};

// Inserts name before the first entry whose port number (PortNumberOf) is
// greater than or equal to its own, or at the end. So the list stays in
// ascending port-number order, a name goes before an earlier one with the
// same number, and names without digits gather at the front.
void InsertPortSorted(QStringList& list, const QString& name);

// The port combo box for the discovered port names (in the order they were
// found) and the port chosen last time. The discovered names are listed in
// ascending port-number order; when there are none, COM1 to COM4 are listed.
// The saved name selects a discovered port regardless of letter case (the
// last such entry when several match) but a port of the COM1 to COM4 list
// only when it matches exactly. A saved name that matches no entry (one the
// operator typed) is added at the end, exactly as saved, and selected.
// Without a saved name the first entry is selected.
PortList FillPortList(const QStringList& discovered, const QString& savedName);

// Whether a port name means a port on a network device server
// (rfc2217://HOST:PORT or tcp://HOST:PORT[?baud=N], well formed).
bool IsNetworkPortName(const QString& name);

// The names of the machine's serial ports as the system reports them
// (e.g. ttyS0, ttyUSB0), in the order reported.
QStringList DiscoverPorts();

} // namespace tapeway
