// SPDX-License-Identifier: GPL-3.0-or-later
// What the office may do through the desk of a running service whose lines
// name ports that are not there: they stay connecting, their folders work.
#include "journal/JournalThread.h"
#include "serve/OfficeDesk.h"
#include "serve/ServeService.h"
#include "support/FaultTools.h"
#include "support/WaitFor.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

using Problem = OfficeDesk::Problem;
using Folder = OfficeDesk::Folder;

class OfficeDeskTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* folder : {"out", "lib", "in/pending", "in/failed", "lib2", "in3"})
            ASSERT_TRUE(QDir(m_dir.path()).mkpath(folder));
        faults::Write(Path("lines.ini"),
                      "[Mill]\nPort=/dev/tapeway-absent-1\nMode=send\nOutbox=out\nLibrary=lib\n"
                      "[Lathe]\nPort=/dev/tapeway-absent-2\nMode=receive\nInbox=in\n"
                      "Library=lib2\nApprove=yes\n"
                      "[Punch]\nPort=/dev/tapeway-absent-3\nMode=receive\nInbox=in3\n");
        m_journal = std::make_unique<JournalThread>(
            JournalLocation::Parse("sqlite:" + Path("journal.sqlite")));
        m_service = std::make_unique<ServeService>(
            ServeService::Options{Path("lines.ini"), Path("run"), 1, 600000});
        m_service->SetJournal(m_journal.get());
        ASSERT_TRUE(m_service->Start());
        m_desk = std::make_unique<OfficeDesk>(m_service.get(), m_journal.get());
    }
    void TearDown() override
    {
        m_desk.reset();
        if (m_service)
            m_service->Stop();
        m_journal->Finish();
    }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    // An answer that comes on the event loop.
    static OfficeDesk::Answer Await(const std::function<void(OfficeDesk::Done)>& call)
    {
        std::optional<OfficeDesk::Answer> got;
        call([&](const OfficeDesk::Answer& answer) { got = answer; });
        EXPECT_TRUE(WaitFor([&] { return got.has_value(); }, 30000)) << "no answer";
        if (got)
            return *got;
        OfficeDesk::Answer none;
        none.problem = Problem::System;
        none.detail = QStringLiteral("no answer");
        return none;
    }
    OfficeDesk::Answer Queue(const QString& line, const QString& name, const QByteArray& data)
    {
        return Await([&](OfficeDesk::Done done) { m_desk->Queue(line, name, data, done); });
    }
    OfficeDesk::Answer Unqueue(const QString& line, const QString& name)
    {
        return Await([&](OfficeDesk::Done done) { m_desk->Unqueue(line, name, done); });
    }
    OfficeDesk::Answer Reorder(const QString& line, const QStringList& names)
    {
        return Await([&](OfficeDesk::Done done) { m_desk->Reorder(line, names, done); });
    }
    QStringList Names(const QString& line, Folder folder)
    {
        QList<OfficeDesk::Entry> entries;
        EXPECT_TRUE(m_desk->List(line, folder, &entries).Ok());
        QStringList names;
        for (const OfficeDesk::Entry& entry : entries)
            names << entry.name;
        return names;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<JournalThread> m_journal;
    std::unique_ptr<ServeService> m_service;
    std::unique_ptr<OfficeDesk> m_desk;
};

TEST_F(OfficeDeskTest, QueueReplaceReorderAndUnqueueTheOutbox)
{
    EXPECT_EQ(m_desk->LineNames(), (QStringList{"Mill", "Lathe", "Punch"}));
    const OfficeDesk::Answer made = Queue("Mill", "O1.nc", "%\nO1\n%\n");
    ASSERT_TRUE(made.Ok()) << made.detail.toStdString();
    const OfficeDesk::Answer replaced = Queue("Mill", "O1.nc", "%\nO1 (NEW)\n%\n");
    ASSERT_TRUE(replaced.Ok()) << replaced.detail.toStdString();
    EXPECT_EQ(std::make_tuple(made.created, made.bytes, made.path),
              std::make_tuple(true, qint64(7), Path("out/O1.nc")));
    EXPECT_FALSE(replaced.created);
    EXPECT_EQ(replaced.sha256,
              QCryptographicHash::hash("%\nO1 (NEW)\n%\n", QCryptographicHash::Sha256));
    EXPECT_EQ(faults::Read(Path("out/O1.nc")), "%\nO1 (NEW)\n%\n");
    EXPECT_EQ(QFile::permissions(Path("out/O1.nc")) & QFile::ReadOther, QFile::ReadOther);
    for (const QString name : {"O2.nc", "A.nc"})
        ASSERT_TRUE(Queue("Mill", name, "%\n%\n").Ok());
    EXPECT_EQ(QDir(Path("out")).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"A.nc", "O1.nc", "O2.nc"}))
        << "no hidden upload left";

    ASSERT_TRUE(Reorder("Mill", {"O2.nc", "gone.nc", "O1.nc"}).Ok());
    EXPECT_EQ(Names("Mill", Folder::Outbox), (QStringList{"O2.nc", "O1.nc", "A.nc"}));
    ASSERT_TRUE(Unqueue("Mill", "O2.nc").Ok());
    EXPECT_EQ(Names("Mill", Folder::Outbox), (QStringList{"O1.nc", "A.nc"}));
    const OfficeDesk::Answer located = m_desk->Locate("Mill", Folder::Outbox, "O1.nc");
    EXPECT_EQ(std::make_tuple(located.path, located.bytes),
              std::make_tuple(Path("out/O1.nc"), replaced.bytes));
    // A link is no queued file: neither listed, nor found, nor removed.
    ASSERT_TRUE(QFile::link(Path("lines.ini"), Path("out/link.nc")));
    EXPECT_EQ(Unqueue("Mill", "link.nc").problem, Problem::NotFound);
    EXPECT_EQ(m_desk->Locate("Mill", Folder::Outbox, "link.nc").problem, Problem::NotFound);
    EXPECT_TRUE(QFileInfo(Path("out/link.nc")).isSymLink());
    EXPECT_EQ(Names("Mill", Folder::Outbox), (QStringList{"O1.nc", "A.nc"}));

    // What is refused writes nothing anywhere.
    struct Row
    {
        QString line;
        QString name;
        Problem problem;
    };
    const QList<Row> rows = {
        {"Mill", "../x", Problem::BadName},
        {"Mill", "a/b", Problem::BadName},
        {"Mill", ".hidden", Problem::BadName},
        {"Mill", QString::fromUtf8("x\0y", 3), Problem::BadName},
        {"Mill", "", Problem::BadName},
        {"Nope", "O1.nc", Problem::NoLine},
        {"Lathe", "O1.nc", Problem::NoFolder}, // a receive line has no outbox
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Queue(row.line, row.name, "x").problem, row.problem) << row.name.toStdString();
        EXPECT_EQ(Unqueue(row.line, row.name).problem, row.problem);
        EXPECT_EQ(m_desk->Locate(row.line, Folder::Outbox, row.name).problem, row.problem);
        if (row.problem != Problem::BadName) {
            EXPECT_EQ(Reorder(row.line, {"O1.nc"}).problem, row.problem);
        }
    }
    EXPECT_EQ(Reorder("Mill", {"O1.nc", ".."}).problem, Problem::BadName);
    EXPECT_EQ(Names("Mill", Folder::Outbox), (QStringList{"O1.nc", "A.nc"}));
    QStringList left = QDir(Path("out")).entryList(QDir::Files | QDir::Hidden | QDir::System);
    left.sort();
    EXPECT_EQ(left, (QStringList{".order", "A.nc", "O1.nc", "link.nc"}));
    EXPECT_FALSE(QFileInfo::exists(Path("x")));
    QList<OfficeDesk::Entry> entries;
    EXPECT_EQ(m_desk->List("Punch", Folder::Library, &entries).problem, Problem::NoFolder);
    EXPECT_EQ(m_desk->List("Punch", Folder::Pending, &entries).problem, Problem::NoFolder);
}

TEST_F(OfficeDeskTest, ApproveRejectAndDiffAreJournalledWithWhoDecided)
{
    faults::Write(Path("in/pending/O5.nc"), "%\nO5\nG0 X1\n%\n");
    faults::Write(Path("in/failed/O6.nc"), "%\n");
    EXPECT_EQ(Names("Lathe", Folder::Pending), QStringList{"O5.nc"});
    EXPECT_EQ(Names("Lathe", Folder::Failed), QStringList{"O6.nc"});
    const OfficeDesk::Answer first =
        Await([&](OfficeDesk::Done done) { m_desk->Diff("Lathe", "O5.nc", done); });
    EXPECT_TRUE(first.diff.contains("+G0 X1\n")) << first.diff.toStdString();
    EXPECT_TRUE(first.librarySha256.isEmpty());
    const auto approve = [&](bool replace) {
        return Await([&](OfficeDesk::Done done) {
            m_desk->Approve("Lathe", "O5.nc", replace, "ana", done);
        });
    };
    const OfficeDesk::Answer approved = approve(false);
    ASSERT_TRUE(approved.Ok()) << approved.detail.toStdString();
    EXPECT_EQ(approved.path, Path("lib2/O5.nc"));

    faults::Write(Path("in/pending/O5.nc"), "%\nO5\nG0 X2\n%\n");
    const OfficeDesk::Answer against =
        Await([&](OfficeDesk::Done done) { m_desk->Diff("Lathe", "O5.nc", done); });
    EXPECT_TRUE(against.diff.contains("-G0 X1\n+G0 X2\n")) << against.diff.toStdString();
    EXPECT_TRUE(against.diff.startsWith("--- library/O5.nc\n+++ pending/O5.nc\n"))
        << "no paths of the service's: " << against.diff.toStdString();
    EXPECT_EQ(against.librarySha256, approved.sha256);
    EXPECT_EQ(approve(false).problem, Problem::Exists);
    EXPECT_EQ(faults::Read(Path("lib2/O5.nc")), "%\nO5\nG0 X1\n%\n");
    const OfficeDesk::Answer again = approve(true);
    ASSERT_TRUE(again.Ok()) << again.detail.toStdString();
    EXPECT_EQ(faults::Read(Path("lib2/O5.nc")), "%\nO5\nG0 X2\n%\n");

    faults::Write(Path("in/pending/O7.nc"), "%\nO7\n%\n");
    const OfficeDesk::Answer rejected =
        Await([&](OfficeDesk::Done done) { m_desk->Reject("Lathe", "O7.nc", "bo", done); });
    ASSERT_TRUE(rejected.Ok()) << rejected.detail.toStdString();
    EXPECT_EQ(rejected.path, Path("in/rejected/O7.nc"));
    EXPECT_EQ(
        Await([&](OfficeDesk::Done done) { m_desk->Reject("Lathe", "O7.nc", "bo", done); }).problem,
        Problem::NotFound);
    EXPECT_EQ(Await([&](OfficeDesk::Done d) {
                  m_desk->Approve("Mill", "O5.nc", false, "ana", d);
              }).problem,
              Problem::NoFolder);

    // The decisions in the journal, read back by the line's name.
    JournalQuery query;
    query.line = "Lathe";
    QList<TransferRecord> records;
    ASSERT_TRUE(WaitFor(
        [&] {
            std::optional<QList<TransferRecord>> got;
            m_desk->FindRecords(query, [&](const QList<TransferRecord>& found, const QString&,
                                           const QString&) { got = found; });
            if (!WaitFor([&] { return got.has_value(); }))
                return false;
            records = *got;
            return records.size() == 3;
        },
        30000));
    QStringList seen;
    for (const TransferRecord& record : records)
        seen << record.outcome + " " + record.path + " " + record.detail.section(' ', 2);
    EXPECT_EQ(seen, (QStringList{"rejected " + rejected.path + " by bo (office view)",
                                 "approved " + again.path + " by ana (office view)",
                                 "approved " + approved.path + " by ana (office view)"}));
    EXPECT_EQ(records[1].librarySha256, QString::fromLatin1(approved.sha256.toHex()));
    EXPECT_EQ(records[1].line, "Lathe");

    // Verify: the records of files delivered with that content.
    TransferRecord received = records[2];
    received.id += "-received";
    received.outcome = "received";
    received.sha256 = QString::fromLatin1(approved.sha256.toHex());
    m_journal->Record(received);
    QList<TransferRecord> matches;
    ASSERT_TRUE(WaitFor(
        [&] {
            std::optional<OfficeDesk::Answer> got;
            m_desk->Verify("%\nO5\nG0 X1\n%\n",
                           [&](const OfficeDesk::Answer& answer, const QList<TransferRecord>& found,
                               const QString&) {
                               got = answer;
                               matches = found;
                           });
            return WaitFor([&] { return got.has_value(); }) && got->bytes == 13 &&
                   matches.size() == 1;
        },
        30000));
    EXPECT_EQ(matches[0].id, received.id);
}

TEST_F(OfficeDeskTest, StatusIsTheFilesAndAReloadKeepsTheWebServersSettings)
{
    bool changed = false;
    QObject listening; // ends the connections with this case
    QObject::connect(m_desk.get(), &OfficeDesk::StatusChanged, &listening, [&] { changed = true; });
    QStringList log;
    QObject::connect(m_service.get(), &ServeService::Message, &listening,
                     [&](const QString& text) { log << text; });
    ASSERT_TRUE(WaitFor([&] { return changed; }, 30000));
    const QJsonObject file =
        QJsonDocument::fromJson(faults::Read(m_service->StatusPath())).object();
    EXPECT_EQ(m_desk->Status().value("lines"), file.value("lines"));
    EXPECT_EQ(file.value("lines").toArray().size(), 3);
    EXPECT_FALSE(m_service->Http().has_value());
    QFile config(Path("lines.ini"));
    ASSERT_TRUE(config.open(QIODevice::Append));
    config.write("[HTTP]\nListen=127.0.0.1:0\n");
    config.close();
    m_service->Reload();
    EXPECT_TRUE(log.join('\n').contains("takes the new settings at the service's next start"))
        << log.join('\n').toStdString();
    EXPECT_FALSE(m_service->Http().has_value());
}

TEST(OfficeDesk, WithoutAJournalListingsSaySo)
{
    OfficeDesk desk(nullptr, nullptr);
    QString note = "unanswered";
    desk.FindRecords(
        {}, [&](const QList<TransferRecord>& records, const QString& error, const QString& said) {
            note = records.isEmpty() && error.isEmpty() ? said : "records";
        });
    EXPECT_TRUE(WaitFor([&] { return note != "unanswered"; }));
    EXPECT_EQ(note, "no journal");
    std::optional<OfficeDesk::Answer> removed;
    desk.Unqueue("Mill", "O1.nc", [&](const OfficeDesk::Answer& answer) { removed = answer; });
    ASSERT_TRUE(WaitFor([&] { return removed.has_value(); }));
    EXPECT_EQ(removed->problem, Problem::NoLine);
}

} // namespace
