// The transfer journal on both engines, one table of cases: SQLite always,
// PostgreSQL when PGHOST, PGPORT, PGUSER, PGPASSWORD and PGDATABASE name a
// server (scripts/setup.sh runs these under pg_virtualenv, which makes a
// throw-away one).
#include "journal/RecordFormat.h"
#include "journal/SqlJournal.h"
#include "support/CliProcess.h"
#include "support/SessionRig.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

enum class Engine
{
    Sqlite,
    Postgresql
};

// Nothing listens on port 1: a journal that cannot be reached.
const QString kUnreachable = QStringLiteral("postgresql://nobody@127.0.0.1:1/none");

TransferRecord Sample(int n, const QString& path)
{
    TransferRecord r;
    r.id = QStringLiteral("rec-%1-%2").arg(n).arg(QCoreApplication::applicationPid());
    r.started = QDateTime(QDate(2026, 5, 1 + n % 28), QTime(8, n % 60, 0), Qt::UTC);
    r.ended = r.started.addMSecs(1500 + n);
    r.receive = n % 2 == 1;
    r.port = QStringLiteral("/dev/ttyUSB0");
    r.baud = 38400;
    r.path = path;
    r.bytes = 1000 + n;
    r.sha256 = n % 3 == 2 ? QString() : QString(64, QChar(u'a' + n % 6));
    r.outcome = n % 3 == 2 ? QStringLiteral("data_error")
                           : (r.receive ? QStringLiteral("received") : QStringLiteral("sent"));
    r.message = QStringLiteral("message %1").arg(n);
    r.detail = n == 0 ? QStringLiteral("why") : QString();
    r.version = QStringLiteral("1.2.0");
    r.host = QStringLiteral("lathe-pc");
    r.user = QStringLiteral("张三");
    return r;
}

class JournalEngines : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Sqlite) {
            m_url = "sqlite:" + m_dir.filePath("shared/journal.sqlite");
            return;
        }
        const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString host = env.value("PGHOST");
        if (host.isEmpty() || host.startsWith(u'/'))
            GTEST_SKIP() << "no PostgreSQL server over TCP: PGHOST, PGPORT, PGUSER, PGPASSWORD "
                            "and PGDATABASE are not set (scripts/setup.sh test runs these "
                            "under pg_virtualenv)";
        QUrl url;
        url.setScheme("postgresql");
        url.setUserName(env.value("PGUSER"));
        url.setPassword(env.value("PGPASSWORD"));
        url.setHost(host);
        url.setPort(env.value("PGPORT", "5432").toInt());
        url.setPath("/" + env.value("PGDATABASE", "postgres"));
        m_url = url.toString();
        // Every case starts from an empty journal.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "reset");
            db.setHostName(url.host());
            db.setPort(url.port());
            db.setUserName(url.userName());
            db.setPassword(url.password());
            db.setDatabaseName(url.path().mid(1));
            ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery(db).exec("DROP TABLE IF EXISTS tapeway_transfers, tapeway_journal");
        }
        QSqlDatabase::removeDatabase("reset");
    }

    JournalLocation Location() const { return *JournalLocation::Parse(m_url); }
    QList<TransferRecord> Records(const JournalQuery& query = {}) const
    {
        SqlJournal journal(Location());
        QString error;
        const auto records = journal.Find(query, &error);
        EXPECT_TRUE(records) << error.toStdString();
        return records.value_or(QList<TransferRecord>());
    }
    // tapeway-cli with a data folder of its own (its local journal).
    int Cli(const QStringList& args, const QString& dataHome, CliProcess* keep)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dataHome);
        keep->process.setProcessEnvironment(env);
        return CliProcess::RunToEnd(args, keep, 60000);
    }

    QTemporaryDir m_dir;
    QString m_url;
};

TEST_P(JournalEngines, KeepsEveryFieldAndAnswersQueries)
{
    const QString odd =
        QStringLiteral("/srv/程序/O'1\"2\n3'); DROP TABLE tapeway_transfers; --.nc");
    const QStringList paths = {odd, "/srv/a/O0001.nc", "/srv/b/O0002.nc", "/srv/a/O0003.nc",
                               "/srv/c/O0004.nc"};
    QList<TransferRecord> written;
    {
        SqlJournal journal(Location());
        QString error;
        for (int i = 0; i < paths.size(); ++i) {
            written << Sample(i, paths[i]);
            ASSERT_TRUE(journal.Record(written.last(), &error)) << error.toStdString();
        }
        // A copy made twice is kept once.
        ASSERT_TRUE(journal.Record(written.first(), &error)) << error.toStdString();
    }
    QList<TransferRecord> all = Records();
    ASSERT_EQ(all.size(), paths.size());
    std::reverse(all.begin(), all.end()); // newest first
    for (int i = 0; i < paths.size(); ++i) {
        const TransferRecord &a = all[i], &b = written[i];
        EXPECT_EQ(
            std::tie(a.id, a.started, a.ended, a.receive, a.port, a.baud, a.path, a.bytes, a.sha256,
                     a.outcome, a.message, a.detail, a.version, a.host, a.user, a.line, a.pending),
            std::tie(b.id, b.started, b.ended, b.receive, b.port, b.baud, b.path, b.bytes, b.sha256,
                     b.outcome, b.message, b.detail, b.version, b.host, b.user, b.line, b.pending))
            << i;
    }

    // Each filter of "tapeway-cli journal", with the ids it gives, newest first.
    const auto id = [&](int i) { return written[i].id; };
    struct Case
    {
        QStringList options;
        QStringList ids;
    };
    const QList<Case> cases = {
        {{"--path", "/srv/a/"}, {id(3), id(1)}},
        {{"--path", "程序/O'1\"2\n3')"}, {id(0)}},
        {{"--direction", "receive"}, {id(3), id(1)}},
        {{"--outcome", "data_error"}, {id(2)}},
        {{"--since", "2026-05-03", "--until", "2026-05-04"}, {id(3), id(2)}},
        {{"--since", "2026-05-02T08:01:01.6Z"}, {id(4), id(3), id(2)}},
        {{"--limit", "2"}, {id(4), id(3)}},
    };
    for (const Case& c : cases) {
        CliProcess cli;
        ASSERT_EQ(Cli(QStringList{"journal", "--format", "json", "--journal", m_url} + c.options,
                      m_dir.filePath("home"), &cli),
                  0)
            << cli.err.toStdString();
        QStringList ids;
        for (const QString& line : cli.OutLines()) {
            const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
            ids << object.value("record_id").toString();
            if (ids.last() == id(0)) {
                EXPECT_EQ(object.value("path").toString(), odd);
            }
        }
        EXPECT_EQ(ids, c.ids) << c.options.join(' ').toStdString();
    }
}

TEST_P(JournalEngines, TwoProcessesCopyingAtOnceLoseNothingAndCopyOnce)
{
    // Two programs' local journals, each holding records the journal under
    // test could not take; both copy them over at the same moment.
    constexpr int kEach = 120;
    QStringList homes;
    for (int p = 0; p < 2; ++p) {
        homes << m_dir.filePath(QStringLiteral("home%1").arg(p));
        SqlJournal local(
            *JournalLocation::Parse("sqlite:" + homes.last() + "/tapeway/journal.sqlite"));
        QString error;
        for (int i = 0; i < kEach; ++i) {
            TransferRecord r = Sample(i, QStringLiteral("/p%1/%2.nc").arg(p).arg(i));
            r.id += QStringLiteral("-%1").arg(p);
            r.pending = true;
            ASSERT_TRUE(local.Record(r, &error)) << error.toStdString();
        }
    }
    CliProcess a, b;
    for (int p = 0; p < 2; ++p) {
        CliProcess& cli = p == 0 ? a : b;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", homes[p]);
        cli.process.setProcessEnvironment(env);
        cli.Start({"journal", "--sync", "--journal", m_url});
    }
    for (CliProcess* cli : {&a, &b}) {
        ASSERT_TRUE(cli->Wait(60000));
        EXPECT_EQ(cli->ExitCode(), 0) << cli->err.toStdString();
        EXPECT_TRUE(cli->out.startsWith(QStringLiteral("%1 record(s) copied").arg(kEach)))
            << cli->out.toStdString();
    }
    const QList<TransferRecord> all = Records();
    QSet<QString> ids;
    for (const TransferRecord& r : all) {
        ids.insert(r.id);
        EXPECT_FALSE(r.pending);
    }
    EXPECT_EQ(all.size(), 2 * kEach);
    EXPECT_EQ(ids.size(), 2 * kEach);
    CliProcess again;
    EXPECT_EQ(Cli({"journal", "--sync", "--journal", m_url}, homes[0], &again), 0);
    EXPECT_TRUE(again.out.startsWith("0 record(s) copied")) << again.out.toStdString();
    EXPECT_EQ(Records().size(), 2 * kEach);
}

TEST_P(JournalEngines, AnUnreachableJournalChangesNothingOfTheTransferAndSyncMovesTheRecord)
{
    SessionRig rig;
    const QByteArray data = SessionRig::Pattern(1500, 3);
    SessionRig::Write(rig.Path("O0007.nc"), data);
    ASSERT_TRUE(rig.controller->ReceiveFiles(rig.Path("ctl"), 1));
    const QString home = m_dir.filePath("home");
    CliProcess send;
    EXPECT_EQ(Cli({"--journal", kUnreachable, "send", "--port", rig.modem.PortA(), "--baud",
                   "38400", rig.Path("O0007.nc")},
                  home, &send),
              0)
        << send.err.toStdString();
    EXPECT_EQ(send.OutLines(), QStringList{"Complete\t" + rig.Path("O0007.nc")});
    EXPECT_EQ(send.err.count("journal --sync"), 1) << send.err.toStdString();

    // Listed (from the local journal) and found by verify while it waits.
    CliProcess verify;
    EXPECT_EQ(Cli({"verify", "--journal", m_url, rig.Path("O0007.nc")}, home, &verify), 0)
        << verify.out.toStdString() << verify.err.toStdString();
    EXPECT_TRUE(Records().isEmpty());

    CliProcess sync;
    EXPECT_EQ(Cli({"journal", "--sync", "--journal", m_url}, home, &sync), 0)
        << sync.err.toStdString();
    const QList<TransferRecord> records = Records();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].path, rig.Path("O0007.nc"));
    EXPECT_EQ(records[0].sha256,
              QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    EXPECT_FALSE(records[0].pending);
    CliProcess again;
    EXPECT_EQ(Cli({"journal", "--sync", "--journal", m_url}, home, &again), 0);
    EXPECT_TRUE(again.out.startsWith("0 record(s) copied")) << again.out.toStdString();

    // A file never moved is not found.
    SessionRig::Write(rig.Path("other.nc"), "other");
    CliProcess missing;
    EXPECT_EQ(Cli({"verify", "--journal", m_url, rig.Path("O0007.nc"), rig.Path("other.nc")}, home,
                  &missing),
              1);
    EXPECT_TRUE(missing.out.contains("not found\t" + rig.Path("other.nc")));
    EXPECT_TRUE(missing.out.contains("found\t" + rig.Path("O0007.nc")));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, JournalEngines, ::testing::Values(Engine::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgresql, JournalEngines, ::testing::Values(Engine::Postgresql));

} // namespace
