// SPDX-License-Identifier: GPL-3.0-or-later
// Requests from a machine's panel: what a request program asks, what the
// library finds, the reply programs and the line's queue of asked files.
#include "serve/Library.h"
#include "serve/LineRequests.h"
#include "serve/ReplyProgram.h"
#include "serve/RequestProgram.h"
#include "support/FaultTools.h"
#include "transfer/TapeProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tapeway;

namespace {

using Kind = RequestAsk::Kind;

TEST(ServeRequests, RequestProgramsSayWhatTheMachineAsks)
{
    EXPECT_EQ(RequestProgram::ParseNumber("o09999"), "O9999");
    EXPECT_EQ(RequestProgram::ParseNumber("123"), "O123");
    for (const char* bad : {"", "O", "O123456", "P12", "O12A"})
        EXPECT_FALSE(RequestProgram::ParseNumber(bad)) << bad;
    EXPECT_TRUE(RequestProgram::IsRequest("%\nO09999\n(LIST)\n%\n", "O9999"));
    EXPECT_TRUE(RequestProgram::IsRequest("%\r\n:9999\r\n%\r\n", "O9999")); // ISO tape's ':'
    EXPECT_FALSE(RequestProgram::IsRequest("%\nO9999\n%\n", QString())) << "requests off";
    EXPECT_FALSE(RequestProgram::IsRequest("%\nO1234 (SEND O1)\n%\n", "O9999"));
    EXPECT_FALSE(RequestProgram::IsRequest("%\nN1 O9999\n%\n", "O9999"));

    struct Row
    {
        QByteArray text;
        QList<RequestAsk> asks;
    };
    const QList<Row> rows = {
        {"%\nO9999 (FROM LATHE 3)\n(SEND O1234)\n(send BRACKET-2.NC)\n%\n",
         {{Kind::Send, "O1234", {}, "SEND O1234"},
          {Kind::Send, "BRACKET-2.NC", {}, "send BRACKET-2.NC"}}},
        // The number's line may carry the ask itself; several asks keep their order.
        {"%\r\nO9999 (SEND O12*)\r\nN1 ( DNC  O5   N41200 )(LIST)\r\n%\r\n",
         {{Kind::Send, "O12*", {}, "SEND O12*"},
          {Kind::Dnc, "O5", 41200, "DNC  O5   N41200"},
          {Kind::List, {}, {}, "LIST"}}},
        {"%\nO9999\n(DNC O5)\n%\n", {{Kind::Dnc, "O5", {}, "DNC O5"}}},
        // What asks for nothing known is told, except the number line's title.
        {"%\nO9999\n(SNED O1)\n(DNC O5 X10)\n(DNC O1*)\n(SEND)\n(LIST ALL)\n%\n",
         {{Kind::Unknown, {}, {}, "SNED O1"},
          {Kind::Unknown, {}, {}, "DNC O5 X10"},
          {Kind::Unknown, {}, {}, "DNC O1*"},
          {Kind::Unknown, {}, {}, "SEND"},
          {Kind::Unknown, {}, {}, "LIST ALL"}}},
        {"%\nO9999 (SEND)\n%\n", {{Kind::Unknown, {}, {}, "SEND"}}},
        {"%\nO9999\nG0 X1\n%\n", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RequestProgram::Asks(row.text), row.asks) << row.text.toStdString();
}

TEST(ServeRequests, TheLibraryFindsByNumberNameAndPatternAndNeverOutside)
{
    QTemporaryDir dir, outside;
    const auto path = [&](const QString& name) { return dir.filePath(name); };
    faults::Write(path("O1234.nc"), "%\nO1234\n%\n");
    faults::Write(path("inside.nc"), "%\n(BY ITS BLOCK)\nO1234\n%\n"); // after the name's match
    faults::Write(path("o0012-bracket.nc"), "%\nO77\n%\n");            // the name's number wins
    faults::Write(path("BRACKET-2.NC"), "%\nG0 X1\n%\n");
    faults::Write(path("O1299.nc"), "%\nO1299\n%\n");
    faults::Write(path(".O1288.nc"), "%\nO1288\n%\n");
    faults::Write(outside.filePath("secret"), "%\nO4321\n%\n");
    ASSERT_TRUE(QFile::link(outside.filePath("secret"), path("O4321.nc")));
    QDir(dir.path()).mkdir("O1277");
    faults::Write(path("five.nc"), "%\nO5 (BY CONTENT ONLY)\n%\n");
    const Library library(dir.path());

    using R = Library::Result;
    struct Row
    {
        QString target;
        R result;
        QStringList names;
    };
    const QList<Row> rows = {
        {"O1234", R::Found, {"O1234.nc"}},
        {"o01234", R::Found, {"O1234.nc"}},
        {"O12", R::Found, {"o0012-bracket.nc"}},
        {"O5", R::Found, {"five.nc"}},
        {"O77", R::NotFound, {}},
        {"BRACKET-2.NC", R::Found, {"BRACKET-2.NC"}},
        {"bracket-2.nc", R::NotFound, {}},                         // the file system's letter case
        {"O12*", R::Found, {"O1234.nc", "O1299.nc", "inside.nc"}}, // not O0012
        {"*.NC", R::Found, {"BRACKET-2.NC"}},
        {"O43*", R::NotFound, {}}, // a link is no program of the library
        {"O4321", R::NotFound, {}},
        {"O1288", R::NotFound, {}}, // nor a hidden file
        {"O1277", R::NotFound, {}}, // nor a folder
        {"../" + QFileInfo(outside.path()).fileName() + "/secret", R::Refused, {}},
        {"..", R::Refused, {}},
        {"a..b", R::Refused, {}},
        {outside.filePath("secret"), R::Refused, {}},
        {"C:SECRET", R::Refused, {}},
        {"SUB\\X.NC", R::Refused, {}},
    };
    for (const Row& row : rows) {
        const Library::Lookup found = library.Find(row.target);
        QStringList names;
        for (const QString& file : found.paths)
            names << QFileInfo(file).fileName();
        EXPECT_EQ(found.result, row.result) << row.target.toStdString();
        EXPECT_EQ(names, row.names) << row.target.toStdString();
    }
    QStringList listed;
    for (const Library::Entry& entry : library.Entries())
        listed << entry.name + ' ' + entry.number;
    EXPECT_EQ(listed, (QStringList{"BRACKET-2.NC ", "O1234.nc O1234", "O1299.nc O1299",
                                   "five.nc O5", "inside.nc O1234", "o0012-bracket.nc O0012"}));
    EXPECT_EQ(Library(QString()).Find("O1").result, R::NotFound);
}

TEST(ServeRequests, RepliesAreProgramsThePanelShows)
{
    EXPECT_EQ(ReplyProgram::Build("O9998", "NOT FOUND O1234"), "%\nO9998 (NOT FOUND O1234)\n%\n");
    // Nothing that would end the comment, the program or the line; EIA has capitals only.
    EXPECT_EQ(ReplyProgram::Build("O9998", "REFUSED a(b)%\n\xE4"), "%\nO9998 (REFUSED a?b???"
                                                                   "?)\n%\n");
    EXPECT_EQ(ReplyProgram::Build("O9998", "NOT FOUND bracket_2.nc", TapeCodeKind::Eia),
              "%\nO9998 (NOT FOUND BRACKET 2.NC)\n%\n");
    QList<Library::Entry> entries;
    for (int i = 0; i < ReplyProgram::kMostListed + 2; ++i)
        entries.append(
            {QStringLiteral("P%1.NC").arg(i), i % 2 ? QStringLiteral("O%1").arg(i) : "", ""});
    const QList<QByteArray> lines = ReplyProgram::List("O9998", entries).split('\n');
    ASSERT_EQ(lines.size(), ReplyProgram::kMostListed + 5);
    EXPECT_EQ(lines.mid(0, 4),
              (QList<QByteArray>{"%", "O9998 (LIBRARY 202)", "(P0.NC)", "(P1.NC O1)"}));
    EXPECT_EQ(lines.mid(lines.size() - 3), (QList<QByteArray>{"(AND 2 MORE)", "%", ""}));
}

TEST(ServeRequests, TheLineQueuesAskedFilesAndItsPrivateReplies)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("lib");
    faults::Write(dir.filePath("lib/O1.nc"), "%\nO1\n%\n");
    faults::Write(dir.filePath("lib/O2.nc"), "%\nO2\nN10 X1\n%\n");
    LineConfig config;
    config.name = "L";
    config.library = dir.filePath("lib");
    config.tape = *TapeProfileFile::Find(TapeProfileFile::Presets(), "Fanuc ISO");
    {
        LineRequests requests(config, 1);
        requests.SetFeedFolder(dir.filePath("state/feeds"));
        EXPECT_EQ(requests.ReplyFolder(), dir.filePath("state/replies"));
        EXPECT_FALSE(requests.Take("%\nO1\n(SEND O2)\n%\n")) << "a program, not a request";
        const auto taken = requests.Take("%\nO9999\n(SEND O1)\n(DNC O2 N10)\n(SEND O3)\n%\n");
        ASSERT_TRUE(taken);
        EXPECT_EQ(taken->events.size(), 3);
        EXPECT_EQ(taken->note, "request O9999: SEND O1 -> O1.nc; DNC O2 N10 -> O2.nc; SEND O3 -> "
                               "reply O9998 (NOT FOUND O3)");
        EXPECT_EQ(requests.Size(), 3);

        EXPECT_EQ(requests.Next(), dir.filePath("lib/O1.nc"));
        EXPECT_FALSE(requests.RestartFor(dir.filePath("lib/O1.nc")));
        EXPECT_FALSE(requests.Done(dir.filePath("lib/O2.nc"))) << "not the file handed out";
        EXPECT_TRUE(requests.Done(dir.filePath("lib/O1.nc")));
        EXPECT_EQ(requests.Next(), dir.filePath("lib/O2.nc"));
        const auto restart = requests.RestartFor(dir.filePath("lib/O2.nc"));
        ASSERT_TRUE(restart);
        EXPECT_EQ(restart->by, FeedRestart::By::Block);
        EXPECT_EQ(restart->number, 10);
        // Handed out again without an end: it could not be prepared, and the
        // machine reads that before the rest.
        const QString notSent = requests.Next();
        EXPECT_TRUE(notSent.startsWith(dir.filePath("state/replies/L-O9998-")))
            << notSent.toStdString();
        EXPECT_EQ(faults::Read(notSent), "%\nO9998 (NOT SENT O2.nc N10)\n%\n");
        struct stat info
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(notSent).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("state/replies")).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_TRUE(requests.Done(notSent));
        EXPECT_FALSE(QFileInfo::exists(notSent)) << "a reply goes once it went";
        EXPECT_EQ(requests.Size(), 1);
        EXPECT_EQ(QDir(dir.filePath("state/replies")).entryList(QDir::Files).size(), 1);
    }
    EXPECT_EQ(QDir(dir.filePath("state/replies")).entryList(QDir::Files), QStringList())
        << "replies never read go with the line";
}

} // namespace
