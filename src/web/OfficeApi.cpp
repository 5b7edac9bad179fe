// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/OfficeApi.h"

#include "journal/RecordFormat.h"
#include "web/WebPath.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

namespace tapeway {

namespace {

using Code = WebReply::Status;

OfficeDesk::Answer Stopping()
{
    OfficeDesk::Answer answer;
    answer.problem = OfficeDesk::Problem::System;
    answer.detail = QStringLiteral("the service is stopping");
    return answer;
}

OfficeDesk::Answer SystemProblem(const QString& why)
{
    OfficeDesk::Answer answer;
    answer.problem = OfficeDesk::Problem::System;
    answer.detail = why;
    return answer;
}

QJsonArray RecordsJson(const QList<TransferRecord>& records)
{
    QJsonArray array;
    for (const TransferRecord& record : records)
        array.append(QJsonDocument::fromJson(RecordFormat::JsonLine(record).toUtf8()).object());
    return array;
}

QString Iso(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

void BadName(WebReply& reply)
{
    reply.Error(Code::BadRequest, QStringLiteral("bad_name"),
                QStringLiteral("a line or file name must be a plain name: not empty, no '/', "
                               "'\\' or NUL, not starting with '.'"));
}

void BadRequest(WebReply& reply, const QString& why)
{
    reply.Error(Code::BadRequest, QStringLiteral("bad_request"), why);
}

} // namespace

OfficeApi::OfficeApi(DeskClient* desk) : m_desk(desk) {}

void OfficeApi::AnswerProblem(WebReply& reply, const OfficeDesk::Answer& answer)
{
    using Problem = OfficeDesk::Problem;
    struct Row
    {
        Problem problem;
        Code status;
        const char* code;
        const char* message;
    };
    static const Row kRows[] = {
        {Problem::NoLine, Code::NotFound, "no_line", "no line of that name"},
        {Problem::NoFolder, Code::NotFound, "no_folder", "the line has no such folder"},
        {Problem::BadName, Code::BadRequest, "bad_name", "not a plain file name"},
        {Problem::NotFound, Code::NotFound, "not_found", "no such file"},
        {Problem::Busy, Code::Conflict, "busy", "the file is being sent right now"},
        {Problem::Exists, Code::Conflict, "exists",
         "the library has a program of that name (approve with replace=1)"},
        {Problem::System, Code::InternalServerError, "system", "the system refused"},
    };
    for (const Row& row : kRows) {
        if (row.problem == answer.problem) {
            reply.Error(row.status, QString::fromLatin1(row.code),
                        answer.detail.isEmpty() ? QString::fromLatin1(row.message) : answer.detail);
            return;
        }
    }
    reply.Error(Code::InternalServerError, QStringLiteral("system"), answer.detail);
}

bool OfficeApi::NeededRole(const WebCall& call, UsersFile::Role* role)
{
    using Role = UsersFile::Role;
    const QStringList& s = call.segments;
    const QByteArray& m = call.method;
    const auto is = [&](std::initializer_list<const char*> path, const char* method) {
        if (m != method || qsizetype(path.size()) != s.size())
            return false;
        qsizetype i = 0;
        for (const char* part : path) {
            if (*part != '*' && s[i] != QLatin1String(part))
                return false;
            ++i;
        }
        return true;
    };
    *role = Role::Viewer;
    if (is({"status"}, "GET") || is({"journal"}, "GET") || is({"verify"}, "POST") ||
        is({"me"}, "GET") || is({"logout"}, "POST") || is({"lines", "*", "*"}, "GET") ||
        is({"lines", "*", "*", "*"}, "GET") || is({"lines", "*", "pending", "*", "diff"}, "GET"))
        return true;
    *role = Role::Operator;
    if (is({"lines", "*", "outbox", "*"}, "PUT") || is({"lines", "*", "outbox", "*"}, "DELETE") ||
        is({"lines", "*", "order"}, "PUT") ||
        is({"lines", "*", "pending", "*", "approve"}, "POST") ||
        is({"lines", "*", "pending", "*", "reject"}, "POST"))
        return true;
    *role = Role::Admin;
    return is({"users"}, "GET");
}

void OfficeApi::Status(const WebCall& call)
{
    if (!m_desk)
        return AnswerProblem(*call.reply, Stopping());
    call.reply->Json(QJsonDocument(m_desk->Status()));
}

void OfficeApi::Lines(const WebCall& call)
{
    WebReply& reply = *call.reply;
    const QStringList& s = call.segments; // "lines", LINE, ...
    for (qsizetype i = 1; i < s.size(); ++i)
        if (!WebPath::IsPlainSegment(s[i]))
            return BadName(reply);
    if (!m_desk)
        return AnswerProblem(reply, Stopping());
    const QString line = s[1];
    if (s.size() == 3 && s[2] == QStringLiteral("order")) {
        const QJsonDocument document = QJsonDocument::fromJson(call.body);
        if (!document.isArray())
            return BadRequest(reply, QStringLiteral("the body must be a JSON array of names"));
        QStringList names;
        for (const QJsonValue& value : document.array()) {
            if (!value.isString() || !WebPath::IsPlainSegment(value.toString()))
                return BadName(reply);
            names << value.toString();
        }
        std::shared_ptr<WebReply> later = call.reply;
        m_desk->Reorder(line, names, [later](const OfficeDesk::Answer& answer) {
            if (!answer.Ok())
                return AnswerProblem(*later, answer);
            later->Empty(Code::NoContent);
        });
        return;
    }
    OfficeDesk::Folder folder;
    if (!OfficeDesk::FolderNamed(s[2], &folder))
        return reply.Error(Code::NotFound, QStringLiteral("no_folder"),
                           QStringLiteral("no folder \"%1\"").arg(s[2]));
    if (s.size() == 3) {
        std::shared_ptr<WebReply> later = call.reply;
        m_desk->List(
            line, folder,
            [later](const OfficeDesk::Answer& answer, const QList<OfficeDesk::Entry>& entries) {
                if (!answer.Ok())
                    return AnswerProblem(*later, answer);
                QJsonArray files;
                for (const OfficeDesk::Entry& entry : entries)
                    files.append(QJsonObject{{QStringLiteral("name"), entry.name},
                                             {QStringLiteral("bytes"), entry.bytes},
                                             {QStringLiteral("modified"), Iso(entry.modified)}});
                later->Json(QJsonDocument(QJsonObject{{QStringLiteral("files"), files}}));
            });
        return;
    }
    if (s.size() == 4)
        return File(call, line, folder, s[3]);
    return Pending(call, line, s[3], s[4]);
}

void OfficeApi::File(const WebCall& call, const QString& line, OfficeDesk::Folder folder,
                     const QString& name)
{
    std::shared_ptr<WebReply> reply = call.reply;
    if (call.method == "GET") {
        // Read and sent from this thread, never the service's.
        m_desk->Locate(line, folder, name, [reply, name](const OfficeDesk::Answer& answer) {
            if (!answer.Ok())
                return AnswerProblem(*reply, answer);
            auto* file = new QFile(answer.path);
            if (!file->open(QIODevice::ReadOnly)) {
                const QString why = file->errorString();
                delete file;
                return AnswerProblem(*reply, SystemProblem(why));
            }
            reply->Stream(file, WebPath::Attachment(name));
        });
        return;
    }
    if (call.method == "DELETE") {
        m_desk->Unqueue(line, name, [reply](const OfficeDesk::Answer& answer) {
            if (!answer.Ok())
                return AnswerProblem(*reply, answer);
            reply->Empty(Code::NoContent);
        });
        return;
    }
    m_desk->Queue(line, name, call.body, [reply, name](const OfficeDesk::Answer& answer) {
        if (!answer.Ok())
            return AnswerProblem(*reply, answer);
        reply->Json(QJsonDocument(QJsonObject{
                        {QStringLiteral("name"), name},
                        {QStringLiteral("bytes"), answer.bytes},
                        {QStringLiteral("sha256"), QString::fromLatin1(answer.sha256.toHex())}}),
                    answer.created ? Code::Created : Code::Ok);
    });
}

void OfficeApi::Pending(const WebCall& call, const QString& line, const QString& name,
                        const QString& what)
{
    std::shared_ptr<WebReply> reply = call.reply;
    if (what == QStringLiteral("diff")) {
        m_desk->Diff(line, name, [reply](const OfficeDesk::Answer& answer) {
            if (!answer.Ok())
                return AnswerProblem(*reply, answer);
            reply->Json(QJsonDocument(
                QJsonObject{{QStringLiteral("diff"), answer.diff},
                            {QStringLiteral("same"), answer.same},
                            {QStringLiteral("library"), !answer.librarySha256.isEmpty()}}));
        });
        return;
    }
    const auto done = [reply](const OfficeDesk::Answer& answer) {
        if (!answer.Ok())
            return AnswerProblem(*reply, answer);
        reply->Json(QJsonDocument(QJsonObject{{QStringLiteral("path"), answer.path}}));
    };
    if (what == QStringLiteral("approve")) {
        const QString replace = call.query.queryItemValue(QStringLiteral("replace"));
        m_desk->Approve(line, name,
                        replace == QStringLiteral("1") || replace == QStringLiteral("true"),
                        call.who.user, done);
    } else {
        m_desk->Reject(line, name, call.who.user, done);
    }
}

void OfficeApi::Journal(const WebCall& call)
{
    std::shared_ptr<WebReply> reply = call.reply;
    const QUrlQuery& q = call.query;
    const auto item = [&](const char* key) {
        return q.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
    };
    JournalQuery query;
    const QString since = item("since");
    const QString until = item("until");
    if (!since.isEmpty() && !(query.since = RecordFormat::ParseTime(since, false)).isValid())
        return BadRequest(*reply, QStringLiteral("since: not a date or ISO date-time"));
    if (!until.isEmpty() && !(query.until = RecordFormat::ParseTime(until, true)).isValid())
        return BadRequest(*reply, QStringLiteral("until: not a date or ISO date-time"));
    query.pathContains = item("path");
    query.outcome = item("outcome");
    query.direction = item("direction");
    if (!query.direction.isEmpty() && query.direction != QStringLiteral("send") &&
        query.direction != QStringLiteral("receive"))
        return BadRequest(*reply, QStringLiteral("direction: send or receive"));
    query.sha256 = item("sha256").toLower();
    int limit = 200;
    if (q.hasQueryItem(QStringLiteral("limit"))) {
        bool ok = false;
        limit = item("limit").toInt(&ok);
        if (!ok || limit < 1 || limit > 10000)
            return BadRequest(*reply, QStringLiteral("limit: 1 to 10000"));
    }
    const QString format = item("format");
    if (!format.isEmpty() && format != QStringLiteral("csv") && format != QStringLiteral("json"))
        return BadRequest(*reply, QStringLiteral("format: json or csv"));
    const QString line = item("line");
    query.line = line;
    query.limit = limit;
    if (!m_desk)
        return AnswerProblem(*reply, Stopping());
    m_desk->FindRecords(query, [reply, limit, format](const QList<TransferRecord>& found,
                                                      const QString& error, const QString& note) {
        if (!error.isEmpty())
            return reply->Error(Code::InternalServerError, QStringLiteral("system"), error);
        const QList<TransferRecord> records = found.mid(0, limit);
        if (format == QStringLiteral("csv"))
            return reply->Bytes(RecordFormat::Csv(records).toUtf8(), "text/csv; charset=utf-8",
                                Code::Ok, "Content-Disposition",
                                "attachment; filename=\"tapeway-journal.csv\"");
        reply->Json(QJsonDocument(QJsonObject{{QStringLiteral("records"), RecordsJson(records)},
                                              {QStringLiteral("note"), note}}));
    });
}

void OfficeApi::Verify(const WebCall& call)
{
    std::shared_ptr<WebReply> reply = call.reply;
    if (!m_desk)
        return AnswerProblem(*reply, Stopping());
    m_desk->Verify(call.body, [reply](const OfficeDesk::Answer& answer,
                                      const QList<TransferRecord>& records, const QString& error) {
        if (!error.isEmpty())
            return reply->Error(Code::InternalServerError, QStringLiteral("system"), error);
        reply->Json(QJsonDocument(
            QJsonObject{{QStringLiteral("sha256"), QString::fromLatin1(answer.sha256.toHex())},
                        {QStringLiteral("bytes"), answer.bytes},
                        {QStringLiteral("records"), RecordsJson(records)}}));
    });
}

} // namespace tapeway
