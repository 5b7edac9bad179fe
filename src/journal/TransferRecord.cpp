// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/TransferRecord.h"

#include "resources/StringTable.h"
#include "transfer/FileReport.h"
#include "transfer/SessionMessages.h"
#include "transfer/SystemPath.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace tapeway {

namespace {

QString LookUpUserName()
{
#ifdef Q_OS_UNIX
    if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("USERNAME") : user;
}

// Looked up once: a directory service may be slow to answer.
const QString& UserName()
{
    static const QString name = LookUpUserName();
    return name;
}

const QString& HostName()
{
    static const QString name = QSysInfo::machineHostName();
    return name;
}

} // namespace

QString TransferRecord::Direction() const
{
    return receive ? QStringLiteral("receive") : QStringLiteral("send");
}

QString TransferRecord::StartText() const
{
    if (startBlock)
        return LoadString(messages::kRestartBlockEn).arg(*startBlock).arg(startLine);
    if (startLine > 0)
        return LoadString(messages::kRestartLineEn).arg(startLine);
    return {};
}

bool TransferRecord::ParseDirection(const QString& text, bool* receive)
{
    if (text == QStringLiteral("send") || text == QStringLiteral("receive")) {
        *receive = text == QStringLiteral("receive");
        return true;
    }
    return false;
}

TransferRecord TransferRecord::FromReport(const FileReport& report, const QString& port,
                                          const QString& line)
{
    TransferRecord record;
    record.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.ended = report.ended.isValid() ? report.ended.toUTC() : QDateTime::currentDateTimeUtc();
    record.started = report.started.isValid() ? report.started.toUTC() : record.ended;
    record.receive = report.receive;
    record.port = port;
    record.baud = report.baud;
    // A name's undecodable bytes are kept as \xNN: the journal holds text.
    record.path = DisplayPath(report.path);
    record.bytes = report.bytes;
    record.sha256 = QString::fromLatin1(report.sha256.toHex());
    record.outcome = report.outcome;
    // A cancel shows no message of its own.
    record.message =
        report.englishId > 0 ? LoadString(report.englishId) : QStringLiteral("Cancelled");
    record.detail = DisplayPath(report.detail);
    record.version = QCoreApplication::applicationVersion();
    record.host = HostName();
    record.user = UserName();
    record.line = line;
    record.protocol = report.protocol;
    record.profile = report.profile;
    record.startLine = report.startLine;
    record.startBlock = report.startBlock;
    return record;
}

void TransferRecord::SortNewestFirst(QList<TransferRecord>& records)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const TransferRecord& a, const TransferRecord& b) {
                         if (a.ended != b.ended)
                             return a.ended > b.ended;
                         if (a.started != b.started)
                             return a.started > b.started;
                         return a.id > b.id;
                     });
}

} // namespace tapeway
