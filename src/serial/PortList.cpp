// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortList.h"

#include "serial/LinkSettings.h"
#include "serial/NetworkLine.h"

#include <QSerialPortInfo>

namespace tapeway {

void InsertPortSorted(QStringList& list, const QString& name)
{
    const int number = PortNumberOf(name);
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (PortNumberOf(list[i]) >= number) {
            list.insert(i, name);
            return;
        }
    }
    list.append(name);
}

PortList FillPortList(const QStringList& discovered, const QString& savedName)
{
    PortList ports;
    for (const QString& name : discovered) {
        if (!name.isEmpty())
            InsertPortSorted(ports.entries, name);
    }

    // The fixed list matches the saved name exactly, a discovered port
    // regardless of letter case.
    Qt::CaseSensitivity match = Qt::CaseInsensitive;
    if (ports.entries.isEmpty()) {
        for (int number = 1; number <= 4; ++number)
            ports.entries.append(QStringLiteral("COM%1").arg(number));
        match = Qt::CaseSensitive;
    }
    if (savedName.isEmpty())
        return ports;

    int found = -1;
    for (qsizetype i = 0; i < ports.entries.size(); ++i) {
        if (ports.entries[i].compare(savedName, match) == 0)
            found = int(i);
    }
    if (found < 0) {
        // A name the operator typed (a device path, an adapter that is not
        // plugged in yet, a network port) is offered as it was saved.
        ports.entries.append(savedName);
        found = int(ports.entries.size() - 1);
    }
    ports.selected = found;
    return ports;
}

bool IsNetworkPortName(const QString& name)
{
    return NetworkLine::IsNetworkName(name) && NetworkLine::ParseName(name, nullptr, nullptr);
}

QStringList DiscoverPorts()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports)
        names.append(port.portName());
    return names;
}

} // namespace tapeway
