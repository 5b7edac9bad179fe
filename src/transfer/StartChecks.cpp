// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/StartChecks.h"

#include "resources/StringTable.h"
#include "serial/LinkSettings.h"
#include "transfer/SessionHost.h"
#include "transfer/SessionMessages.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

namespace tapeway {

using namespace messages;

bool CheckBaudText(SessionHost& host)
{
    const QString text = host.BaudText().trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch() || text.toInt() <= 0) {
        host.ShowMessage(kBaudNotNumberZh, kBaudNotNumberEn, text);
        return false;
    }
    // Speeds the baud box may hold: the standard rates of the port layer.
    if (!QSerialPortInfo::standardBaudRates().contains(text.toInt())) {
        host.ShowMessage(kBaudNotSettableZh, kBaudNotSettableEn, text);
        return false;
    }
    return true;
}

int HostLanguage(const SessionHost& host)
{
    return host.LocalText(kBadProfileZh, kBadProfileEn) == LoadString(kBadProfileZh) ? 0 : 1;
}

bool CheckTapeProfile(SessionHost& host, const TapeProfile& profile, bool receiving)
{
    const std::optional<TapeProfileProblem> problem = profile.Validate();
    if (!problem)
        return true;
    host.ShowMessage(kBadProfileZh, kBadProfileEn, problem->Message(HostLanguage(host)));
    if (receiving)
        host.ReceiveEnded(host.ReceiveTargetText().trimmed(), kBadProfileZh, kBadProfileEn);
    return false;
}

QString PortProblemText(const SessionHost& host, const QString& reason)
{
    const QString port = host.Link().portName;
    switch (DiagnoseOpenFailure(port)) {
    case PortOpenFailure::NoPermission:
        return reason + u'\n' + host.LocalText(kPermissionHintZh, kPermissionHintEn);
    case PortOpenFailure::InUse:
        return reason + u'\n' + host.LocalText(kInUseHintZh, kInUseHintEn);
    case PortOpenFailure::NotSerialPort:
        return reason + u'\n' + host.LocalText(kNotSerialZh, kNotSerialEn).arg(port);
    case PortOpenFailure::Other:
        break;
    }
    return reason;
}

} // namespace tapeway
