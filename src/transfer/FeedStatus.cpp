// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FeedStatus.h"

#include "resources/StringTable.h"
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

QString SpanText(qint64 ms, bool chinese)
{
    const QString h = chinese ? QStringLiteral("小时") : QStringLiteral(" h");
    const QString min = chinese ? QStringLiteral("分") : QStringLiteral(" min");
    const QString sec = chinese ? QStringLiteral("秒") : QStringLiteral(" s");
    const QString msUnit = chinese ? QStringLiteral("毫秒") : QStringLiteral(" ms");
    const QString gap = chinese ? QString() : QStringLiteral(" ");
    if (ms < 1000)
        return QString::number(qMax<qint64>(0, ms)) + msUnit;
    const qint64 s = ms / 1000;
    if (s < 60)
        return QString::number(s) + sec;
    if (s < 3600)
        return QString::number(s / 60) + min +
               (s % 60 ? gap + QString::number(s % 60) + sec : QString());
    const qint64 m = (s / 60) % 60;
    return QString::number(s / 3600) + h + (m ? gap + QString::number(m) + min : QString());
}

QString FeedStatusText(const FeedStatus& status, const LocalTextFn& text)
{
    const QString line = GroupedNumber(status.line), lines = GroupedNumber(status.lines);
    const bool chinese = text(kSinceXonZh, kSinceXonEn) == LoadString(kSinceXonZh);
    QString out =
        status.block
            ? text(kFeedAtBlockZh, kFeedAtBlockEn).arg(QString::number(*status.block), line, lines)
            : text(kFeedAtLineZh, kFeedAtLineEn).arg(line, lines);
    QString flow;
    if (status.waitingForXon)
        flow = text(kWaitingForXonZh, kWaitingForXonEn);
    else if (status.held && status.msSinceFlowChange)
        flow = text(kHeldForZh, kHeldForEn).arg(SpanText(*status.msSinceFlowChange, chinese));
    else if (status.msSinceFlowChange)
        flow = text(kSinceXonZh, kSinceXonEn).arg(SpanText(*status.msSinceFlowChange, chinese));
    if (!flow.isEmpty())
        out += QStringLiteral(", ") + flow;
    return out;
}

} // namespace tapeway
