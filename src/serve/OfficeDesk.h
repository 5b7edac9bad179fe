// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/TransferRecord.h"
#include "serve/Approval.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace tapeway {

class JournalThread;
class ServeService;

// What the office may see and do of a running service, and nothing more:
// the status, each line's folders, the outbox's queue, the approval of
// pending programs and the journal. The web server talks to the service
// only through this; it never touches a line. Everything that reads or
// writes a program's bytes (upload, approve, reject, diff, verify) runs on a
// worker thread and answers on this object's thread, so that the event loop
// keeps serving the machines meanwhile. The desk lives on the service's
// thread: callers on another one (the web server) reach it through queued
// calls (web/DeskClient). Names are plain file names
// (Approval::IsPlainName); nothing outside a line's folders is read or
// written.
class OfficeDesk : public QObject
{
    Q_OBJECT
public:
    enum class Folder
    {
        Outbox,  // a send line's queue
        Library, // Library=
        Inbox,   // a receive line's inbox
        Pending, // inbox/pending/ with Approve=yes
        Failed,  // failed/ under the outbox and the inbox
    };
    // "outbox", "library", "inbox", "pending", "failed"; false when none.
    static bool FolderNamed(const QString& name, Folder* folder);

    enum class Problem
    {
        None,
        NoLine,   // no line of that name
        NoFolder, // the line has no such folder (a receive line's outbox, no Library=)
        BadName,  // not a plain file name
        NotFound, // no such file there
        Busy,     // the file is being sent right now
        Exists,   // approve: the library has the name and replacing was not asked
        System,   // the system refused: detail says why
    };

    struct Answer
    {
        Problem problem = Problem::None;
        QString detail;       // why, in English, for the log and the API's error
        QString path;         // the file the answer is about, where it is now
        bool created = false; // Queue: a new name (false: replaced)
        qint64 bytes = 0;
        QByteArray sha256;        // of the program (raw digest)
        QByteArray librarySha256; // approve/reject/diff: the library's version, if any
        QString diff;             // Diff: unified diff, empty when the lines are the same
        bool same = false;        // Diff: byte for byte the same
        bool Ok() const { return problem == Problem::None; }
    };

    struct Entry
    {
        QString name;
        qint64 bytes = 0;
        QDateTime modified;
    };

    using Done = std::function<void(const Answer&)>;
    using Found = std::function<void(const QList<TransferRecord>& records, const QString& error,
                                     const QString& note)>;

    // journal may be null (no journal configured).
    OfficeDesk(ServeService* service, JournalThread* journal, QObject* parent = nullptr);
    ~OfficeDesk() override;

    // The status as the status file has it.
    QJsonObject Status() const;
    QStringList LineNames() const;

    // A folder's plain files; the outbox in the order it is sent in.
    Answer List(const QString& line, Folder folder, QList<Entry>* entries) const;
    // Where a file is, for reading (answer.path, bytes); not a link, regular.
    Answer Locate(const QString& line, Folder folder, const QString& name) const;

    // The program into the outbox under name: written under a hidden name,
    // synced, renamed, so the queue never sees half of it. Replaces a queued
    // file of that name (created false) unless it is being sent (Busy).
    void Queue(const QString& line, const QString& name, const QByteArray& data, Done done);
    // Takes a queued file out of the queue (deletes it); Busy while sent.
    void Unqueue(const QString& line, const QString& name, Done done);
    // The outbox's order: these names first, in this order, then the rest in
    // name order. Names not queued are passed over.
    void Reorder(const QString& line, const QStringList& names, Done done);

    // As tapeway-cli approve/reject/diff; who decided goes in the journal.
    void Approve(const QString& line, const QString& name, bool replace, const QString& user,
                 Done done);
    void Reject(const QString& line, const QString& name, const QString& user, Done done);
    void Diff(const QString& line, const QString& name, Done done);

    // Records newest first (JournalQuery.line: one line's).
    void FindRecords(const JournalQuery& query, Found found);
    // Was this exact content ever sent or received: the SHA-256 of data and
    // the records of delivered files with it (answer.sha256, answer.bytes).
    void
    Verify(const QByteArray& data,
           std::function<void(const Answer&, const QList<TransferRecord>&, const QString& error)>
               done);

signals:
    // The status changed (at most a few times a second): the new one, so
    // that a listener on another thread need not ask for it.
    void StatusChanged(const QJsonObject& status);

private:
    struct Gate;
    // What approve, reject and diff do with a pending program: the act on
    // the worker, and for a decision its journal outcome and words.
    struct Decision
    {
        std::function<Approval::Result(const Approval&)> act;
        const char* outcome = nullptr; // nullptr: nothing to journal
        std::function<QString(const Approval::Result&)> words;
    };
    void Decide(const QString& line, const QString& name, const QString& user, Decision decision,
                Done done);
    // work runs on a worker thread; its answer is handed to then on this
    // object's thread, unless the desk is gone by then.
    void OnWorker(std::function<Answer()> work, std::function<void(const Answer&)> then);
    void OnFound(int request, const QList<TransferRecord>& records, const QString& error,
                 const QString& note);

    QPointer<ServeService> m_service;
    QPointer<JournalThread> m_journal;
    std::shared_ptr<Gate> m_gate;
    QHash<int, Found> m_finds; // journal requests by their number
};

} // namespace tapeway
