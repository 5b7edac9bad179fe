#pragma once

#include "journal/Journal.h"
#include "journal/JournalLocation.h"

namespace tapeway {

// The journal in an SQL database over Qt SQL: an SQLite file (QSQLITE, in WAL
// mode with a busy timeout, so that several programs write at once) or a
// PostgreSQL server (QPSQL). The connection opens at first use and the
// schema is created or upgraded then; a connection that failed is opened
// again at the next use. Every value travels as a bound parameter.
class SqlJournal : public Journal
{
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kBusyTimeoutMs = 10000; // SQLite: waits for another writer
    static constexpr int kConnectTimeoutS = 5;   // PostgreSQL: gives up on a silent server
    static constexpr int kStatementTimeoutMs = 15000;

    explicit SqlJournal(const JournalLocation& location);
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
    bool Connect(QString* error);
    bool PrepareSchema(QString* error);
    bool Fail(const QString& what, const QString& reason, QString* error);
    bool IsPostgresql() const { return m_location.GetKind() == JournalLocation::Kind::Postgresql; }

    JournalLocation m_location;
    QString m_connection;
    bool m_ready = false;
};

} // namespace tapeway
