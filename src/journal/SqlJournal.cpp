// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/SqlJournal.h"

#include "transfer/FileReport.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

namespace tapeway {

namespace {

const QString kMetaTable = QStringLiteral("tapeway_journal");
const QString kTable = QStringLiteral("tapeway_transfers");
// Serialises schema work of several programs on one PostgreSQL database.
constexpr qint64 kSchemaLockKey = 0x74617065776179; // "tapeway"

const char* const kColumns = "record_id, started, ended, direction, port, baud, path, bytes, "
                             "sha256, outcome, message, detail, program_version, host, "
                             "user_name, line, pending";

// PostgreSQL's SQLSTATE for a statement cancelled by statement_timeout;
// SQLite's result codes for a database another connection holds.
const QString kQueryCanceled = QStringLiteral("57014");
const QStringList kSqliteBusy = {QStringLiteral("5"), QStringLiteral("6")};

QString Seconds(int ms)
{
    return QString::number(ms / 1000.0);
}

// Times are ISO 8601 UTC text with milliseconds: they sort as they compare.
QString TimeText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime TimeFrom(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : time;
}

// A null QString would be bound as SQL NULL.
QVariant Text(const QString& text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

// Only a local journal holds pending records: PostgreSQL tables keep their layout.
const QString kJournalColumn = QStringLiteral("journal TEXT NOT NULL DEFAULT ''");

QString TransfersTable(bool postgresql)
{
    return QStringLiteral("CREATE TABLE %1 (seq %2, record_id TEXT NOT NULL UNIQUE, "
                          "started TEXT NOT NULL, ended TEXT NOT NULL, direction TEXT NOT NULL, "
                          "port TEXT NOT NULL, baud INTEGER NOT NULL, path TEXT NOT NULL, "
                          "bytes BIGINT NOT NULL, sha256 TEXT, outcome TEXT NOT NULL, "
                          "message TEXT NOT NULL, detail TEXT NOT NULL, "
                          "program_version TEXT NOT NULL, host TEXT NOT NULL, "
                          "user_name TEXT NOT NULL, line TEXT NOT NULL, "
                          "pending INTEGER NOT NULL DEFAULT 0%3)")
        .arg(kTable,
             postgresql ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                        : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"),
             postgresql ? QString() : QStringLiteral(", ") + kJournalColumn);
}

// The columns every record has that the first tables lacked: added to a
// table that lacks them, with defaults that a program writing without them
// (an older TAPEWAY on another machine) still fills. The schema version
// stays, so that such a program goes on writing.
const QString kProtocolColumn = QStringLiteral("protocol TEXT NOT NULL DEFAULT 'packet'");
const QString kProfileColumn = QStringLiteral("profile TEXT NOT NULL DEFAULT ''");
// Where a restarted feed began: the line (0 from the top) and the block
// number the operator named (NULL when none).
const QString kStartLineColumn = QStringLiteral("start_line BIGINT NOT NULL DEFAULT 0");
const QString kStartBlockColumn = QStringLiteral("start_block BIGINT NULL");
// An approval's or rejection's library version (NULL when none).
const QString kLibraryColumn = QStringLiteral("library_sha256 TEXT NULL");

// Whether the records' table has the column yet.
QString HasColumn(bool postgresql, const QString& column)
{
    if (postgresql)
        return QStringLiteral("SELECT count(*) FROM information_schema.columns WHERE "
                              "table_schema = current_schema() AND table_name = '%1' AND "
                              "column_name = '%2'")
            .arg(kTable, column);
    return QStringLiteral("SELECT count(*) FROM pragma_table_info('%1') WHERE name = '%2'")
        .arg(kTable, column);
}

QString HasJournalColumn()
{
    return HasColumn(false, QStringLiteral("journal"));
}

QString NewerSchema(int version)
{
    return QStringLiteral("the journal was made by a newer TAPEWAY (schema %1, this program knows "
                          "up to %2)")
        .arg(version)
        .arg(SqlJournal::kSchemaVersion);
}

} // namespace

SqlJournal::SqlJournal(const JournalLocation& location, Access access)
    : m_location(location), m_access(access)
{
    static QAtomicInt counter;
    m_connection = QStringLiteral("tapeway-journal-%1").arg(counter.fetchAndAddRelaxed(1));
}

SqlJournal::~SqlJournal()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

void SqlJournal::SetTimeouts(int busyMs, int statementMs)
{
    m_busyMs = busyMs;
    m_statementMs = statementMs;
    m_ready = false;
}

QString SqlJournal::Reason(const QSqlError& error) const
{
    const QString text = error.text().simplified();
    const QString code = error.nativeErrorCode();
    if (IsPostgresql() && code == kQueryCanceled)
        return QStringLiteral("the server did not answer within %1 s (statement timeout): %2")
            .arg(Seconds(m_statementMs), text);
    if (!IsPostgresql() && (kSqliteBusy.contains(code) || text.contains(QStringLiteral("locked"))))
        return QStringLiteral("timed out after %1 s waiting for another program's write: %2")
            .arg(Seconds(m_busyMs), text);
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

bool SqlJournal::Fail(const QString& what, const QString& reason, QString* error)
{
    if (error)
        *error = what.isEmpty() ? reason : QStringLiteral("%1: %2").arg(what, reason);
    // The next use connects afresh: a server may have gone and come back.
    m_ready = false;
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::database(m_connection, false).close();
    return false;
}

bool SqlJournal::Open(QString* error)
{
    if (m_ready && !m_absent && QSqlDatabase::database(m_connection, false).isOpen())
        return true;
    m_absent = false;
    m_ready = Connect(false, error) &&
              (m_absent || (IsReadOnly() ? CheckSchema(error) : PrepareSchema(error)));
    return m_ready;
}

bool SqlJournal::Connect(bool immutable, QString* error)
{
    const QString driver = IsPostgresql() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (m_location.IsOff())
        return Fail({}, QStringLiteral("the journal is off"), error);
    if (!QSqlDatabase::isDriverAvailable(driver))
        return Fail({},
                    QStringLiteral("Qt's %1 driver is not installed (%2)")
                        .arg(driver, IsPostgresql() ? QStringLiteral("libqt6sql6-psql")
                                                    : QStringLiteral("libqt6sql6-sqlite")),
                    error);
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(driver, m_connection);
    db.close();
    if (IsPostgresql()) {
        db.setHostName(m_location.Host());
        db.setPort(m_location.Port());
        db.setUserName(m_location.User());
        db.setPassword(m_location.Password());
        db.setDatabaseName(m_location.Database());
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutS));
    } else if (IsReadOnly()) {
        const QFileInfo file(m_location.Path());
        if (!file.exists()) {
            m_absent = true;
            return true;
        }
        // Immutable: a folder this user may not write holds no -shm file of
        // a WAL journal, without which SQLite cannot otherwise read it.
        QString options =
            QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyMs);
        if (immutable)
            options += QStringLiteral(";QSQLITE_OPEN_URI");
        db.setDatabaseName(immutable ? QUrl::fromLocalFile(file.absoluteFilePath()).toString() +
                                           QStringLiteral("?immutable=1")
                                     : file.absoluteFilePath());
        db.setConnectOptions(options);
    } else {
        const QFileInfo file(m_location.Path());
        if (!QDir().mkpath(file.absolutePath()))
            return Fail({}, QStringLiteral("cannot create the folder %1").arg(file.absolutePath()),
                        error);
        db.setDatabaseName(file.absoluteFilePath());
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyMs));
    }
    if (!db.open())
        return Fail(QStringLiteral("cannot open"), Reason(db.lastError()), error);
    QSqlQuery setup(db);
    // WAL lets readers and one writer work at once; a file system without
    // shared memory keeps the rollback journal, which is slower but as safe.
    // A server's notices (a table that exists already) are no news.
    bool ok = true;
    if (IsPostgresql()) {
        ok = setup.exec(QStringLiteral("SET statement_timeout = %1").arg(m_statementMs)) &&
             setup.exec(QStringLiteral("SET client_min_messages = warning")) &&
             (!IsReadOnly() ||
              setup.exec(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY")));
    } else if (!IsReadOnly() && !setup.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
        // The switch needs the file to itself for a moment, and SQLite does
        // not wait for it: another program creating or converting the same
        // journal at this instant makes it fail at once. That program's
        // switch is as good as ours (the mode is kept in the file, and every
        // transaction looks at it), and one that failed leaves the rollback
        // journal, which is as safe: the writes that follow wait their turn.
        const QSqlError failed = setup.lastError();
        ok = kSqliteBusy.contains(failed.nativeErrorCode()) ||
             failed.text().contains(QStringLiteral("locked"));
        if (!ok)
            return Fail(QStringLiteral("cannot set up the connection"), Reason(failed), error);
    }
    if (!ok)
        return Fail(QStringLiteral("cannot set up the connection"), Reason(setup.lastError()),
                    error);
    return true;
}

bool SqlJournal::CheckSchema(QString* error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const QString tables =
        IsPostgresql()
            ? QStringLiteral("SELECT (to_regclass('%1') IS NOT NULL AND to_regclass('%2') IS NOT "
                             "NULL)::int")
            : QStringLiteral("SELECT count(*) = 2 FROM sqlite_master WHERE type = 'table' AND "
                             "name IN ('%1', '%2')");
    if (!q.exec(tables.arg(kMetaTable, kTable)) || !q.next()) {
        const QString reason = Reason(q.lastError());
        if (!IsPostgresql() && !db.connectOptions().contains(QStringLiteral("URI"))) {
            q = QSqlQuery();
            if (Connect(true, error) && CheckSchema(error))
                return true;
        }
        return Fail(QStringLiteral("cannot read"), reason, error);
    }
    if (q.value(0).toInt() == 0) {
        m_absent = true; // no program has written here yet
        return true;
    }
    if (!q.exec(
            QStringLiteral("SELECT value FROM %1 WHERE name = 'schema_version'").arg(kMetaTable)))
        return Fail(QStringLiteral("cannot read"), Reason(q.lastError()), error);
    const int version = q.next() ? q.value(0).toString().toInt() : 0;
    if (version > kSchemaVersion)
        return Fail({}, NewerSchema(version), error);
    m_journalColumn = false;
    if (!IsPostgresql()) {
        if (!q.exec(HasJournalColumn()) || !q.next())
            return Fail(QStringLiteral("cannot read"), Reason(q.lastError()), error);
        m_journalColumn = q.value(0).toInt() > 0;
    }
    if (!q.exec(HasColumn(IsPostgresql(), QStringLiteral("protocol"))) || !q.next())
        return Fail(QStringLiteral("cannot read"), Reason(q.lastError()), error);
    m_protocolColumns = q.value(0).toInt() > 0;
    if (!q.exec(HasColumn(IsPostgresql(), QStringLiteral("start_line"))) || !q.next())
        return Fail(QStringLiteral("cannot read"), Reason(q.lastError()), error);
    m_startColumns = q.value(0).toInt() > 0;
    if (!q.exec(HasColumn(IsPostgresql(), QStringLiteral("library_sha256"))) || !q.next())
        return Fail(QStringLiteral("cannot read"), Reason(q.lastError()), error);
    m_libraryColumn = q.value(0).toInt() > 0;
    return true;
}

bool SqlJournal::PrepareSchema(QString* error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const auto run = [&](const QString& statement) { return q.exec(statement); };
    const auto failed = [&] {
        const QString reason = Reason(q.lastError());
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return Fail(QStringLiteral("cannot prepare the journal's tables"), reason, error);
    };
    // One program at a time creates or upgrades the tables.
    if (IsPostgresql()) {
        if (!run(QStringLiteral("BEGIN")) ||
            !run(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey)))
            return failed();
    } else if (!run(QStringLiteral("BEGIN IMMEDIATE"))) {
        return failed();
    }
    if (!run(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY, "
                            "value TEXT NOT NULL)")
                 .arg(kMetaTable)) ||
        !run(QStringLiteral("SELECT value FROM %1 WHERE name = 'schema_version'").arg(kMetaTable)))
        return failed();
    const int version = q.next() ? q.value(0).toString().toInt() : 0;
    q.finish();
    if (version > kSchemaVersion) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return Fail({}, NewerSchema(version), error);
    }
    if (version == 0) {
        if (!run(TransfersTable(IsPostgresql())) ||
            !run(QStringLiteral("CREATE INDEX %1_ended ON %1 (ended)").arg(kTable)) ||
            !run(QStringLiteral("CREATE INDEX %1_sha256 ON %1 (sha256)").arg(kTable)) ||
            !run(QStringLiteral("INSERT INTO %1 (name, value) VALUES ('schema_version', '%2')")
                     .arg(kMetaTable)
                     .arg(kSchemaVersion)))
            return failed();
    }
    // Later schema versions add their steps here, each from the one before.
    m_journalColumn = false;
    if (!IsPostgresql()) {
        if (!run(HasJournalColumn()) || !q.next())
            return failed();
        const bool present = q.value(0).toInt() > 0;
        q.finish();
        if (!present &&
            !run(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(kTable, kJournalColumn)))
            return failed();
        m_journalColumn = true;
    }
    for (const QString& column :
         {kProtocolColumn, kProfileColumn, kStartLineColumn, kStartBlockColumn, kLibraryColumn}) {
        if (!run(HasColumn(IsPostgresql(), column.section(u' ', 0, 0))) || !q.next())
            return failed();
        const bool present = q.value(0).toInt() > 0;
        q.finish();
        if (!present && !run(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(kTable, column)))
            return failed();
    }
    m_protocolColumns = true;
    m_startColumns = true;
    m_libraryColumn = true;
    if (!run(QStringLiteral("COMMIT")))
        return failed();
    return true;
}

bool SqlJournal::Record(const TransferRecord& record, QString* error)
{
    if (!Open(error))
        return false;
    if (IsReadOnly() || m_absent)
        return Fail(QStringLiteral("cannot write"), QStringLiteral("opened to be read only"),
                    error);
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    QVariantList values = {Text(record.id),
                           QVariant(TimeText(record.started)),
                           QVariant(TimeText(record.ended)),
                           QVariant(record.Direction()),
                           Text(record.port),
                           QVariant(record.baud),
                           Text(record.path),
                           QVariant(record.bytes),
                           record.sha256.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                                   : record.sha256,
                           Text(record.outcome),
                           Text(record.message),
                           Text(record.detail),
                           Text(record.version),
                           Text(record.host),
                           Text(record.user),
                           Text(record.line),
                           QVariant(record.pending ? 1 : 0)};
    QString columns = QString::fromLatin1(kColumns);
    if (m_journalColumn) {
        columns += QStringLiteral(", journal");
        values << Text(record.pending ? record.journal : QString());
    }
    if (m_protocolColumns) {
        columns += QStringLiteral(", protocol, profile");
        values << Text(record.protocol) << Text(record.profile);
    }
    if (m_startColumns) {
        columns += QStringLiteral(", start_line, start_block");
        values << QVariant(record.startLine)
               << (record.startBlock ? QVariant(*record.startBlock)
                                     : QVariant(QMetaType::fromType<qint64>()));
    }
    if (m_libraryColumn) {
        columns += QStringLiteral(", library_sha256");
        values << (record.librarySha256.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                                  : QVariant(record.librarySha256));
    }
    QStringList marks;
    for (qsizetype i = 0; i < values.size(); ++i)
        marks << QStringLiteral("?");
    if (!q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (record_id) DO "
                                  "NOTHING")
                       .arg(kTable, columns, marks.join(QStringLiteral(", ")))))
        return Fail(QStringLiteral("cannot write"), Reason(q.lastError()), error);
    for (const QVariant& value : values)
        q.addBindValue(value);
    if (!q.exec())
        return Fail(QStringLiteral("cannot write"), Reason(q.lastError()), error);
    return true;
}

std::optional<QList<TransferRecord>> SqlJournal::Find(const JournalQuery& query, QString* error)
{
    if (!Open(error))
        return std::nullopt;
    if (m_absent)
        return QList<TransferRecord>();
    // The optional columns come last: protocol and profile, the start, the
    // library's version, then journal.
    QString sql = QStringLiteral("SELECT %1%2%3%4%5 FROM %6 WHERE 1 = 1")
                      .arg(QString::fromLatin1(kColumns),
                           m_protocolColumns ? QStringLiteral(", protocol, profile") : QString(),
                           m_startColumns ? QStringLiteral(", start_line, start_block") : QString(),
                           m_libraryColumn ? QStringLiteral(", library_sha256") : QString(),
                           m_journalColumn ? QStringLiteral(", journal") : QString(), kTable);
    QVariantList values;
    const auto where = [&](const QString& condition, const QVariant& value) {
        sql += QStringLiteral(" AND ") + condition;
        values << value;
    };
    if (query.since.isValid())
        where(QStringLiteral("ended >= ?"), TimeText(query.since));
    if (query.until.isValid())
        where(QStringLiteral("ended < ?"), TimeText(query.until));
    if (!query.pathContains.isEmpty())
        where(IsPostgresql() ? QStringLiteral("strpos(path, ?) > 0")
                             : QStringLiteral("instr(path, ?) > 0"),
              query.pathContains);
    if (!query.line.isEmpty())
        where(QStringLiteral("line = ?"), query.line);
    if (!query.direction.isEmpty())
        where(QStringLiteral("direction = ?"), query.direction);
    if (!query.outcome.isEmpty())
        where(QStringLiteral("outcome = ?"), query.outcome);
    if (!query.sha256.isEmpty())
        where(QStringLiteral("sha256 = ?"), query.sha256.toLower());
    if (query.delivered) {
        sql += QStringLiteral(" AND outcome IN (?, ?)");
        values << QString::fromLatin1(FileReport::kSent)
               << QString::fromLatin1(FileReport::kReceived);
    }
    if (query.pendingOnly)
        sql += QStringLiteral(" AND pending = 1");
    if (query.pendingOnly && !query.pendingFor.isEmpty() && m_journalColumn)
        where(QStringLiteral("(journal = ? OR journal = '')"), query.pendingFor);
    sql += QStringLiteral(" ORDER BY ended DESC, started DESC, record_id DESC");
    if (query.limit > 0) {
        sql += QStringLiteral(" LIMIT ?");
        values << query.limit;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        Fail(QStringLiteral("cannot read"), Reason(q.lastError()), error);
        return std::nullopt;
    }
    for (const QVariant& value : values)
        q.addBindValue(value);
    if (!q.exec()) {
        Fail(QStringLiteral("cannot read"), Reason(q.lastError()), error);
        return std::nullopt;
    }
    QList<TransferRecord> records;
    while (q.next()) {
        TransferRecord r;
        r.id = q.value(0).toString();
        r.started = TimeFrom(q.value(1).toString());
        r.ended = TimeFrom(q.value(2).toString());
        r.receive = q.value(3).toString() == QStringLiteral("receive");
        r.port = q.value(4).toString();
        r.baud = q.value(5).toInt();
        r.path = q.value(6).toString();
        r.bytes = q.value(7).toLongLong();
        r.sha256 = q.value(8).toString();
        r.outcome = q.value(9).toString();
        r.message = q.value(10).toString();
        r.detail = q.value(11).toString();
        r.version = q.value(12).toString();
        r.host = q.value(13).toString();
        r.user = q.value(14).toString();
        r.line = q.value(15).toString();
        r.pending = q.value(16).toInt() != 0;
        int next = 17;
        if (m_protocolColumns) {
            r.protocol = q.value(next++).toString();
            r.profile = q.value(next++).toString();
        }
        if (m_startColumns) {
            r.startLine = q.value(next++).toLongLong();
            const QVariant block = q.value(next++);
            if (!block.isNull())
                r.startBlock = block.toLongLong();
        }
        if (m_libraryColumn)
            r.librarySha256 = q.value(next++).toString();
        if (m_journalColumn)
            r.journal = q.value(next).toString();
        records << r;
    }
    return records;
}

bool SqlJournal::MarkSynced(const QStringList& ids, QString* error)
{
    if (!Open(error))
        return false;
    if (IsReadOnly() || m_absent)
        return Fail(QStringLiteral("cannot write"), QStringLiteral("opened to be read only"),
                    error);
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.prepare(QStringLiteral("UPDATE %1 SET pending = 0 WHERE record_id = ?").arg(kTable)))
        return Fail(QStringLiteral("cannot write"), Reason(q.lastError()), error);
    for (const QString& id : ids) {
        q.addBindValue(id);
        if (!q.exec())
            return Fail(QStringLiteral("cannot write"), Reason(q.lastError()), error);
    }
    return true;
}

} // namespace tapeway
