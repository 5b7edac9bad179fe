// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/RecordFormat.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>

namespace tapeway {

namespace {

QString CsvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString UtcText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// One line per cell: a path with a line break must not break the table.
QString OneLine(QString text)
{
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    text.replace(u'\t', u' ');
    return text;
}

} // namespace

QString RecordFormat::Csv(const QList<TransferRecord>& records)
{
    QString out = QStringLiteral("started,ended,direction,port,baud,path,bytes,sha256,outcome,"
                                 "message,detail,version,host,user,line,record_id,pending,protocol,"
                                 "profile,start_line,start_block\r\n");
    for (const TransferRecord& r : records) {
        const QStringList fields = {UtcText(r.started),
                                    UtcText(r.ended),
                                    r.Direction(),
                                    r.port,
                                    QString::number(r.baud),
                                    r.path,
                                    QString::number(r.bytes),
                                    r.sha256,
                                    r.outcome,
                                    r.message,
                                    r.detail,
                                    r.version,
                                    r.host,
                                    r.user,
                                    r.line,
                                    r.id,
                                    r.pending ? QStringLiteral("1") : QStringLiteral("0"),
                                    r.protocol,
                                    r.profile,
                                    QString::number(r.startLine),
                                    r.startBlock ? QString::number(*r.startBlock) : QString()};
        QStringList quoted;
        for (const QString& field : fields)
            quoted << CsvField(field);
        out += quoted.join(u',') + QStringLiteral("\r\n");
    }
    return out;
}

QString RecordFormat::JsonLine(const TransferRecord& r)
{
    const QJsonObject object{
        {QStringLiteral("started"), UtcText(r.started)},
        {QStringLiteral("ended"), UtcText(r.ended)},
        {QStringLiteral("direction"), r.Direction()},
        {QStringLiteral("port"), r.port},
        {QStringLiteral("baud"), r.baud},
        {QStringLiteral("path"), r.path},
        {QStringLiteral("bytes"), double(r.bytes)},
        {QStringLiteral("sha256"), r.sha256.isEmpty() ? QJsonValue() : QJsonValue(r.sha256)},
        {QStringLiteral("outcome"), r.outcome},
        {QStringLiteral("message"), r.message},
        {QStringLiteral("detail"), r.detail},
        {QStringLiteral("version"), r.version},
        {QStringLiteral("host"), r.host},
        {QStringLiteral("user"), r.user},
        {QStringLiteral("line"), r.line},
        {QStringLiteral("record_id"), r.id},
        {QStringLiteral("pending"), r.pending},
        {QStringLiteral("protocol"), r.protocol},
        {QStringLiteral("profile"), r.profile},
        {QStringLiteral("start_line"), double(r.startLine)},
        {QStringLiteral("start_block"),
         r.startBlock ? QJsonValue(double(*r.startBlock)) : QJsonValue()},
        {QStringLiteral("library_sha256"),
         r.librarySha256.isEmpty() ? QJsonValue() : QJsonValue(r.librarySha256)}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString RecordFormat::Table(const QList<TransferRecord>& records, int width)
{
    QList<QStringList> rows = {{QStringLiteral("ENDED"), QStringLiteral("DIRECTION"),
                                QStringLiteral("OUTCOME"), QStringLiteral("BYTES"),
                                QStringLiteral("PORT"), QStringLiteral("SHA-256"),
                                QStringLiteral("PATH")}};
    // A restarted feed's start stands before the path; a listing without
    // one has no such column.
    const bool starts = std::any_of(records.cbegin(), records.cend(), [](const TransferRecord& r) {
        return !r.StartText().isEmpty();
    });
    if (starts)
        rows.first().insert(rows.first().size() - 1, QStringLiteral("START"));
    for (const TransferRecord& r : records) {
        rows << QStringList{
            LocalTime(r.ended), r.Direction(),
            r.outcome,          QString::number(r.bytes),
            OneLine(r.port),    r.sha256.isEmpty() ? QStringLiteral("-") : r.sha256.left(12),
            OneLine(r.path)};
        if (starts) {
            const QString start = r.StartText();
            rows.last().insert(rows.last().size() - 1,
                               start.isEmpty() ? QStringLiteral("-") : start);
        }
    }
    const int columns = int(rows.first().size());
    QList<int> widths(columns, 0);
    for (const QStringList& row : rows)
        for (int c = 0; c < columns; ++c)
            widths[c] = qMax(widths[c], int(row[c].size()));
    int fixed = 0;
    for (int c = 0; c < columns - 1; ++c)
        fixed += widths[c] + 2;
    const int pathWidth = width > 0 ? qMax(12, width - fixed) : widths.last();
    QString out;
    for (const QStringList& row : rows) {
        QString line;
        for (int c = 0; c < columns - 1; ++c)
            line += row[c].leftJustified(widths[c] + 2);
        QString path = row.last();
        if (path.size() > pathWidth)
            path = QStringLiteral("…") + path.right(pathWidth - 1);
        out += line + path + u'\n';
    }
    return out;
}

QString RecordFormat::LocalTime(const QDateTime& time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QDateTime RecordFormat::ParseTime(const QString& text, bool endOfDay)
{
    const QString trimmed = text.trimmed();
    const QDate date = QDate::fromString(trimmed, Qt::ISODate);
    if (date.isValid() && trimmed.size() == 10)
        return QDateTime(endOfDay ? date.addDays(1) : date, QTime(0, 0)).toUTC();
    QString normal = trimmed;
    if (normal.size() > 10 && normal[10] == u' ')
        normal[10] = u'T';
    const QDateTime time = QDateTime::fromString(normal, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

} // namespace tapeway
