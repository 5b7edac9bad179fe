// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FeedStatus.h"

#include "transfer/SessionMessages.h"

namespace tapeway {

using namespace messages;

QString GroupedNumber(qint64 n)
{
    QString digits = QString::number(n < 0 ? -n : n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return n < 0 ? u'-' + digits : digits;
}

QString SpanText(qint64 ms)
{
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(qMax<qint64>(0, ms));
    const qint64 s = ms / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60)
                      : QStringLiteral("%1 min").arg(s / 60);
    const qint64 min = (s / 60) % 60;
    return min ? QStringLiteral("%1 h %2 min").arg(s / 3600).arg(min)
               : QStringLiteral("%1 h").arg(s / 3600);
}

QString FeedStatusText(const FeedStatus& status, const LocalTextFn& text)
{
    const QString line = GroupedNumber(status.line), lines = GroupedNumber(status.lines);
    QString out =
        status.block
            ? text(kFeedAtBlockZh, kFeedAtBlockEn).arg(QString::number(*status.block), line, lines)
            : text(kFeedAtLineZh, kFeedAtLineEn).arg(line, lines);
    QString flow;
    if (status.waitingForXon)
        flow = text(kWaitingForXonZh, kWaitingForXonEn);
    else if (status.held && status.msSinceFlowChange)
        flow = text(kHeldForZh, kHeldForEn).arg(SpanText(*status.msSinceFlowChange));
    else if (status.msSinceFlowChange)
        flow = text(kSinceXonZh, kSinceXonEn).arg(SpanText(*status.msSinceFlowChange));
    if (!flow.isEmpty())
        out += QStringLiteral(", ") + flow;
    return out;
}

} // namespace tapeway
