// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/ApprovalRecord.h"

#include "transfer/FileReport.h"
#include "transfer/SystemPath.h"

namespace tapeway {

TransferRecord ApprovalRecord(const LineConfig& line, const Approval::Result& result,
                              const char* outcome, const QString& message)
{
    FileReport report;
    report.receive = true;
    report.path = result.path;
    report.bytes = result.bytes;
    report.sha256 = result.sha256;
    report.outcome = QString::fromLatin1(outcome);
    report.protocol = line.ProtocolName();
    report.profile = line.tape ? line.tape->name : QString();
    TransferRecord record = TransferRecord::FromReport(report, line.link.portName, line.name);
    record.message = message;
    record.detail = QStringLiteral("from %1").arg(DisplayPath(result.pending));
    record.librarySha256 = QString::fromLatin1(result.librarySha256.toHex());
    return record;
}

} // namespace tapeway
