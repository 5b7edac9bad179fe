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

    if (ports.entries.isEmpty()) {
        for (int number = 1; number <= 4; ++number) {
            const QString name = QStringLiteral("COM%1").arg(number);
            ports.entries.append(name);
            if (!savedName.isEmpty() && name == savedName)
                ports.selected = number - 1;
        }
        return ports;
    }

    for (qsizetype i = 0; i < ports.entries.size(); ++i) {
        if (!savedName.isEmpty() && ports.entries[i].compare(savedName, Qt::CaseInsensitive) == 0)
            ports.selected = int(i);
    }
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
