// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/Journal.h"
#include "journal/JournalLocation.h"

class QSqlError;

namespace tapeway {

// The journal in an SQL database over Qt SQL: an SQLite file (QSQLITE, in WAL
// mode with a busy timeout, so that several programs write at once) or a
// PostgreSQL server (QPSQL). The connection opens at first use and the
// schema is created or upgraded then; a connection that failed is opened
// again at the next use. Every value travels as a bound parameter.
//
// Opened ReadOnly, the journal is only read: nothing is created, upgraded or
// locked for writing, so a journal this user may not write (a read-only
// mount, another user's file, a role with SELECT only) or that another
// program is writing lists what it holds; one not made yet lists nothing.
class SqlJournal : public Journal
{
public:
    enum class Access
    {
        ReadWrite,
        ReadOnly
    };

    // Version 1 tables of SQLite gain the column journal (the journal a
    // pending record waits for) as they are opened for writing; older
    // programs name their columns and leave it at its default.
    static constexpr int kSchemaVersion = 1;
    static constexpr int kBusyTimeoutMs = 10000; // SQLite: waits for another writer
    static constexpr int kConnectTimeoutS = 5;   // PostgreSQL: gives up on a silent server
    static constexpr int kStatementTimeoutMs = 15000;

    explicit SqlJournal(const JournalLocation& location, Access access = Access::ReadWrite);
    // How long SQLite waits for another program's write and PostgreSQL for a
    // statement; takes effect at the next connection.
    void SetTimeouts(int busyMs, int statementMs);
    ~SqlJournal() override;
    SqlJournal(const SqlJournal&) = delete;
    SqlJournal& operator=(const SqlJournal&) = delete;

    const JournalLocation& Location() const { return m_location; }
    // Connects and makes the schema ready; done by every other call as needed.
    bool Open(QString* error);

    bool Record(const TransferRecord& record, QString* error) override;
    std::optional<QList<TransferRecord>> Find(const JournalQuery& query, QString* error) override;
    bool MarkSynced(const QStringList& ids, QString* error) override;

private:
    bool Connect(bool immutable, QString* error);
    bool PrepareSchema(QString* error);
    bool CheckSchema(QString* error);
    bool Fail(const QString& what, const QString& reason, QString* error);
    QString Reason(const QSqlError& error) const;
    bool IsPostgresql() const { return m_location.GetKind() == JournalLocation::Kind::Postgresql; }
    bool IsReadOnly() const { return m_access == Access::ReadOnly; }

    JournalLocation m_location;
    Access m_access;
    QString m_connection;
    int m_busyMs = kBusyTimeoutMs;
    int m_statementMs = kStatementTimeoutMs;
    bool m_ready = false;
    bool m_absent = false;          // read only: there is no journal yet
    bool m_journalColumn = false;   // the table has the column journal
    bool m_protocolColumns = false; // the table has the columns protocol and profile
    bool m_startColumns = false;    // the table has the columns start_line and start_block
    bool m_libraryColumn = false;   // the table has the column library_sha256
};

} // namespace tapeway
