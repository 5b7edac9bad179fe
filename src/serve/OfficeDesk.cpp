// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/OfficeDesk.h"

#include "journal/JournalThread.h"
#include "resources/StringTable.h"
#include "serve/Approval.h"
#include "serve/ApprovalRecord.h"
#include "serve/ApprovalText.h"
#include "serve/InboxPlacement.h"
#include "serve/Outbox.h"
#include "serve/ServeService.h"
#include "transfer/SystemPath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMutex>
#include <QRandomGenerator>
#include <QThreadPool>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tapeway {

namespace {

// A few threads for every desk: uploads, approvals and digests of programs.
// They outlive any desk, so that a desk never waits for one when it goes.
QThreadPool& Workers()
{
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(4);
        return made;
    }();
    return *pool;
}

// The folders a folder of the line means (failed/: the outbox's and the inbox's).
QStringList FolderPaths(const LineConfig& line, OfficeDesk::Folder folder)
{
    switch (folder) {
    case OfficeDesk::Folder::Outbox:
        return line.Sends() ? QStringList{line.outbox} : QStringList();
    case OfficeDesk::Folder::Library:
        return line.library.isEmpty() ? QStringList() : QStringList{line.library};
    case OfficeDesk::Folder::Inbox:
        return line.Receives() ? QStringList{line.inbox} : QStringList();
    case OfficeDesk::Folder::Pending:
        return line.Receives() && line.approve
                   ? QStringList{InboxPlacement::Folder(line.inbox, InboxPlacement::kPending)}
                   : QStringList();
    case OfficeDesk::Folder::Failed: {
        QStringList folders;
        if (line.Sends())
            folders << QDir(line.outbox).filePath(QStringLiteral("failed"));
        if (line.Receives())
            folders << InboxPlacement::Folder(line.inbox, InboxPlacement::kFailed);
        return folders;
    }
    }
    return {};
}

OfficeDesk::Answer Trouble(OfficeDesk::Problem problem, const QString& detail)
{
    OfficeDesk::Answer answer;
    answer.problem = problem;
    answer.detail = detail;
    return answer;
}

OfficeDesk::Answer BadName(const QString& name)
{
    return Trouble(OfficeDesk::Problem::BadName,
                   QStringLiteral("\"%1\" is not a plain file name").arg(DisplayPath(name)));
}

// A hidden name beside target for its new content, short enough for any
// name the folder can hold.
QString UploadName(const QString& folder, const QString& name)
{
    QByteArray bytes = EncodePath(name);
    if (bytes.size() > 200)
        bytes.truncate(200);
    const QString random =
        QStringLiteral("%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QChar(u'0'));
    return QDir(folder).filePath(u'.' + DecodePath(bytes) + QStringLiteral(".upload-") + random);
}

// Writes data under a hidden name, syncs it and renames it over path.
OfficeDesk::Answer WriteQueued(const QString& path, const QByteArray& data)
{
    const QString temporary =
        UploadName(QFileInfo(path).absolutePath(), QFileInfo(path).fileName());
    QFile file;
    QString reason;
    bool written =
        OpenPath(file, temporary, QIODevice::WriteOnly | QIODevice::NewOnly, &reason, 0644);
    if (written) {
        // Readable for the service whatever the umask; the machine's program is no secret.
        ::fchmod(file.handle(), 0644);
        written = file.write(data) == data.size() && file.flush();
        if (!written)
            reason = file.errorString();
        else if (::fsync(file.handle()) != 0) {
            written = false;
            reason = QString::fromLocal8Bit(::strerror(errno));
        }
        file.close();
    }
    const PathStatus before = StatPath(path);
    if (written && before.isDir) {
        written = false;
        reason = QStringLiteral("a folder has that name");
    }
    if (!written || !RenamePath(temporary, path, true, &reason)) {
        RemovePath(temporary);
        return Trouble(OfficeDesk::Problem::System,
                       QStringLiteral("cannot write %1: %2").arg(DisplayPath(path), reason));
    }
    OfficeDesk::Answer answer;
    answer.path = path;
    answer.created = !before.exists && !before.isLink;
    answer.bytes = data.size();
    answer.sha256 = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    return answer;
}

OfficeDesk::Answer FromApproval(const Approval::Result& result, const QString& name)
{
    OfficeDesk::Answer answer;
    answer.path = result.path.isEmpty() ? result.pending : result.path;
    answer.bytes = result.bytes;
    answer.sha256 = result.sha256;
    answer.librarySha256 = result.librarySha256;
    answer.diff = result.diff;
    // The office sees the two versions by folder, not by the service's paths.
    if (answer.diff.startsWith(QStringLiteral("--- "))) {
        QStringList lines = answer.diff.split(u'\n');
        if (lines.size() > 1 && lines[1].startsWith(QStringLiteral("+++ "))) {
            lines[0] = QStringLiteral("--- library/") + name;
            lines[1] = QStringLiteral("+++ pending/") + name;
            answer.diff = lines.join(u'\n');
        }
    }
    answer.same = result.sameBytes;
    switch (result.refusal) {
    case Approval::Refusal::None:
        break;
    case Approval::Refusal::BadName:
        return BadName(name);
    case Approval::Refusal::NoLibrary:
        answer.problem = OfficeDesk::Problem::NoFolder;
        answer.detail = QStringLiteral("the line has no library");
        break;
    case Approval::Refusal::NotPending:
        answer.problem = OfficeDesk::Problem::NotFound;
        answer.detail = QStringLiteral("no program %1 waits in pending/").arg(DisplayPath(name));
        break;
    case Approval::Refusal::NotRegular:
        answer.problem = OfficeDesk::Problem::System;
        answer.detail = QStringLiteral("%1 is not a regular file").arg(result.detail);
        break;
    case Approval::Refusal::InLibrary:
        answer.problem = OfficeDesk::Problem::Exists;
        answer.detail = QStringLiteral("the library has a program %1 (replace it to approve)")
                            .arg(DisplayPath(name));
        break;
    case Approval::Refusal::System:
        answer.problem = OfficeDesk::Problem::System;
        answer.detail = result.detail;
        break;
    }
    return answer;
}

} // namespace

// Whether the desk is still there to be answered: a worker posts its answer
// only under the lock, and the desk closes the gate under it when it goes.
struct OfficeDesk::Gate
{
    QMutex mutex;
    OfficeDesk* desk = nullptr;
};

bool OfficeDesk::FolderNamed(const QString& name, Folder* folder)
{
    static const QList<std::pair<QString, Folder>> kNames = {
        {QStringLiteral("outbox"), Folder::Outbox}, {QStringLiteral("library"), Folder::Library},
        {QStringLiteral("inbox"), Folder::Inbox},   {QStringLiteral("pending"), Folder::Pending},
        {QStringLiteral("failed"), Folder::Failed},
    };
    for (const auto& [text, value] : kNames) {
        if (text == name) {
            *folder = value;
            return true;
        }
    }
    return false;
}

OfficeDesk::OfficeDesk(ServeService* service, JournalThread* journal, QObject* parent)
    : QObject(parent), m_service(service), m_journal(journal), m_gate(std::make_shared<Gate>())
{
    m_gate->desk = this;
    if (service)
        connect(service, &ServeService::StatusChanged, this, &OfficeDesk::StatusChanged);
    if (journal)
        connect(journal, &JournalThread::Found, this, &OfficeDesk::OnFound);
}

OfficeDesk::~OfficeDesk()
{
    QMutexLocker lock(&m_gate->mutex);
    m_gate->desk = nullptr;
}

void OfficeDesk::OnWorker(std::function<Answer()> work, std::function<void(const Answer&)> then)
{
    Workers().start([gate = m_gate, work = std::move(work), then = std::move(then)]() mutable {
        const Answer answer = work();
        QMutexLocker lock(&gate->mutex);
        if (!gate->desk)
            return;
        QPointer<OfficeDesk> desk(gate->desk);
        QMetaObject::invokeMethod(
            gate->desk,
            [desk, then = std::move(then), answer] {
                if (desk)
                    then(answer);
            },
            Qt::QueuedConnection);
    });
}

QJsonObject OfficeDesk::Status() const
{
    return m_service ? m_service->StatusObject() : QJsonObject();
}

QStringList OfficeDesk::LineNames() const
{
    QStringList names;
    if (!m_service)
        return names;
    for (const ServeLine* line : m_service->Lines()) {
        if (!names.contains(line->Config().name))
            names << line->Config().name;
    }
    return names;
}

namespace {

// The line and the folders of a request, or the problem.
struct Place
{
    OfficeDesk::Answer answer;
    const ServeLine* line = nullptr;
    QStringList folders;
};

Place Find(ServeService* service, const QString& lineName, OfficeDesk::Folder folder)
{
    Place place;
    place.line = service ? service->LineNamed(lineName) : nullptr;
    if (!place.line) {
        place.answer = Trouble(OfficeDesk::Problem::NoLine,
                               QStringLiteral("no line \"%1\"").arg(DisplayPath(lineName)));
        return place;
    }
    place.folders = FolderPaths(place.line->Config(), folder);
    if (place.folders.isEmpty())
        place.answer = Trouble(OfficeDesk::Problem::NoFolder,
                               QStringLiteral("the line \"%1\" has no such folder").arg(lineName));
    return place;
}

// A plain file's status: a regular file, not a link.
bool IsPlainFile(const PathStatus& status)
{
    return status.isFile && !status.isLink;
}

} // namespace

OfficeDesk::Answer OfficeDesk::List(const QString& line, Folder folder, QList<Entry>* entries) const
{
    entries->clear();
    const Place place = Find(m_service, line, folder);
    if (!place.answer.Ok())
        return place.answer;
    QStringList names;
    for (const QString& dir : place.folders) {
        QStringList here = ListFolder(dir);
        std::sort(here.begin(), here.end());
        for (const QString& name : std::as_const(here)) {
            if (name.startsWith(u'.') || names.contains(name))
                continue; // hidden, or the outbox's failed/ has it first
            const PathStatus status = StatPath(QDir(dir).filePath(name));
            if (!IsPlainFile(status))
                continue;
            names << name;
            entries->append(
                {name, status.size, QDateTime::fromMSecsSinceEpoch(status.modifiedMs, Qt::UTC)});
        }
    }
    if (folder == Folder::Failed)
        std::sort(entries->begin(), entries->end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });
    if (folder == Folder::Outbox) {
        // The office's order first, the rest in name order, as the line sends them.
        const QStringList order = Outbox(place.folders.first()).Order();
        const auto rank = [&](const Entry& entry) {
            const qsizetype at = order.indexOf(entry.name);
            return at < 0 ? order.size() : at;
        };
        std::stable_sort(entries->begin(), entries->end(),
                         [&](const Entry& a, const Entry& b) { return rank(a) < rank(b); });
    }
    Answer answer;
    answer.path = place.folders.first();
    return answer;
}

OfficeDesk::Answer OfficeDesk::Locate(const QString& line, Folder folder, const QString& name) const
{
    if (!Approval::IsPlainName(name))
        return BadName(name);
    const Place place = Find(m_service, line, folder);
    if (!place.answer.Ok())
        return place.answer;
    for (const QString& dir : place.folders) {
        const QString path = QDir(dir).filePath(name);
        const PathStatus status = StatPath(path);
        if (!IsPlainFile(status))
            continue;
        Answer answer;
        answer.path = path;
        answer.bytes = status.size;
        return answer;
    }
    return Trouble(Problem::NotFound, QStringLiteral("no file %1 there").arg(DisplayPath(name)));
}

void OfficeDesk::Queue(const QString& line, const QString& name, const QByteArray& data, Done done)
{
    Answer refused;
    const Place place = Find(m_service, line, Folder::Outbox);
    if (!Approval::IsPlainName(name))
        refused = BadName(name);
    else if (!place.answer.Ok())
        refused = place.answer;
    const QString path = refused.Ok() ? QDir(place.folders.first()).filePath(name) : QString();
    // A file the line is sending now is not replaced under it (a file
    // replaced later, before its end, stays queued as the outbox keeps it).
    if (refused.Ok() && place.line->SendingPath() == path)
        refused = Trouble(Problem::Busy, QStringLiteral("%1 is being sent").arg(DisplayPath(name)));
    if (!refused.Ok()) {
        OnWorker([refused] { return refused; }, std::move(done));
        return;
    }
    OnWorker([path, data] { return WriteQueued(path, data); }, std::move(done));
}

void OfficeDesk::Unqueue(const QString& line, const QString& name, Done done)
{
    const auto refuse = [this, &done](const Answer& refused) {
        OnWorker([refused] { return refused; }, std::move(done));
    };
    if (!Approval::IsPlainName(name))
        return refuse(BadName(name));
    const Place place = Find(m_service, line, Folder::Outbox);
    if (!place.answer.Ok())
        return refuse(place.answer);
    const QString path = QDir(place.folders.first()).filePath(name);
    if (!IsPlainFile(StatPath(path)))
        return refuse(
            Trouble(Problem::NotFound, QStringLiteral("%1 is not queued").arg(DisplayPath(name))));
    if (place.line->SendingPath() == path)
        return refuse(
            Trouble(Problem::Busy, QStringLiteral("%1 is being sent").arg(DisplayPath(name))));
    // Freeing a large file's blocks takes a while: not on the lines' loop.
    OnWorker(
        [path] {
            QString reason;
            if (!RemovePath(path, &reason))
                return Trouble(
                    Problem::System,
                    QStringLiteral("cannot remove %1: %2").arg(DisplayPath(path), reason));
            Answer answer;
            answer.path = path;
            return answer;
        },
        std::move(done));
}

void OfficeDesk::Reorder(const QString& line, const QStringList& names, Done done)
{
    for (const QString& name : names) {
        if (!Approval::IsPlainName(name) || name.contains(u'\n') || name.contains(u'\r')) {
            const Answer refused = BadName(name);
            OnWorker([refused] { return refused; }, std::move(done));
            return;
        }
    }
    const Place place = Find(m_service, line, Folder::Outbox);
    if (!place.answer.Ok()) {
        const Answer refused = place.answer;
        OnWorker([refused] { return refused; }, std::move(done));
        return;
    }
    const QString folder = place.folders.first();
    OnWorker(
        [folder, names] {
            QString error;
            if (!Outbox(folder).SetOrder(names, &error))
                return Trouble(Problem::System, error);
            Answer answer;
            answer.path = folder;
            return answer;
        },
        std::move(done));
}

void OfficeDesk::Decide(const QString& line, const QString& name, const QString& user,
                        Decision decision, Done done)
{
    const Place place = Find(m_service, line, Folder::Pending);
    if (!Approval::IsPlainName(name) || !place.answer.Ok()) {
        const Answer refused = !Approval::IsPlainName(name) ? BadName(name) : place.answer;
        OnWorker([refused] { return refused; }, std::move(done));
        return;
    }
    const LineConfig config = place.line->Config();
    // A decision made is journalled (a diff decides nothing); the record is
    // made on the worker, handed to the journal on this thread.
    auto record = std::make_shared<std::optional<TransferRecord>>();
    OnWorker(
        [config, name, user, record, decision = std::move(decision)] {
            const Approval::Result result = decision.act(Approval(config));
            if (result.Ok() && decision.outcome) {
                *record = ApprovalRecord(config, result, decision.outcome, decision.words(result));
                (*record)->detail += QStringLiteral(" by %1 (office view)").arg(user);
            }
            return FromApproval(result, name);
        },
        [this, record, done = std::move(done)](const Answer& answer) {
            if (*record && m_journal)
                m_journal->Record(**record);
            done(answer);
        });
}

void OfficeDesk::Approve(const QString& line, const QString& name, bool replace,
                         const QString& user, Done done)
{
    Decision decision;
    decision.act = [name, replace](const Approval& approval) {
        return approval.Approve(name, replace);
    };
    decision.outcome = Approval::kApproved;
    // The journal keeps the English words, as the command line's decision does.
    decision.words = [name](const Approval::Result& result) {
        QString words =
            ApprovalText(kEnglish, ApprovalMessage::Approved).arg(name, DisplayPath(result.path));
        if (!result.librarySha256.isEmpty())
            words += ApprovalText(kEnglish, ApprovalMessage::Replaced)
                         .arg(QString::fromLatin1(result.librarySha256.toHex()));
        return words;
    };
    Decide(line, name, user, std::move(decision), std::move(done));
}

void OfficeDesk::Reject(const QString& line, const QString& name, const QString& user, Done done)
{
    Decision decision;
    decision.act = [name](const Approval& approval) { return approval.Reject(name); };
    decision.outcome = Approval::kRejected;
    decision.words = [name](const Approval::Result& result) {
        return ApprovalText(kEnglish, ApprovalMessage::Rejected)
            .arg(name, DisplayPath(result.path));
    };
    Decide(line, name, user, std::move(decision), std::move(done));
}

void OfficeDesk::Diff(const QString& line, const QString& name, Done done)
{
    Decision decision;
    decision.act = [name](const Approval& approval) { return approval.Diff(name); };
    Decide(line, name, QString(), std::move(decision), std::move(done));
}

void OfficeDesk::FindRecords(const JournalQuery& query, Found found)
{
    if (!m_journal) {
        QPointer<OfficeDesk> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, found = std::move(found)] {
                if (self)
                    found({}, QString(), QStringLiteral("no journal"));
            },
            Qt::QueuedConnection);
        return;
    }
    m_finds.insert(m_journal->Find(query), std::move(found));
}

void OfficeDesk::OnFound(int request, const QList<TransferRecord>& records, const QString& error,
                         const QString& note)
{
    const Found found = m_finds.take(request);
    if (found)
        found(records, error, note); // another's request has no entry here
}

void OfficeDesk::Verify(
    const QByteArray& data,
    std::function<void(const Answer&, const QList<TransferRecord>&, const QString& error)> done)
{
    OnWorker(
        [data] {
            Answer answer;
            answer.bytes = data.size();
            answer.sha256 = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
            return answer;
        },
        [this, done = std::move(done)](const Answer& answer) {
            JournalQuery query;
            query.sha256 = QString::fromLatin1(answer.sha256.toHex());
            query.delivered = true;
            FindRecords(query,
                        [answer, done](const QList<TransferRecord>& records, const QString& error,
                                       const QString&) { done(answer, records, error); });
        });
}

} // namespace tapeway
