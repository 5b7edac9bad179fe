// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FeedPosition.h"
#include "transfer/RestartLocator.h"

#include <gtest/gtest.h>

using namespace tapeway;
using Kind = RestartProblem::Kind;

namespace {

// Offsets by line (LF): 1:0 2:2 3:22 4:34 5:43 6:59 7:75 8:92 9:101 10:109 11:113.
const QByteArray kProgram = "%\n"
                            "O1234 (X1. Y2. CUT)\n"
                            "G90 G54 G17\n"
                            "(N41200)\n"
                            "T1 M06 ; Z1 TOP\n"
                            "N10 G00 X1. Y2.\n"
                            " N 41200 G01 Z1.\n"
                            "/2N20 X3\n"
                            "N20 Y4.\n"
                            "M30\n"
                            "%\n";
const QByteArray kPreamble = "O1234 (X1. Y2. CUT)\nG90 G54 G17\n(N41200)\nT1 M06 ; Z1 TOP\n";

// Reads a program with the line ends eol, whole or a byte at a time, for a
// target "N41200" (a block) or "L3" (a line).
RestartLocator Locate(const QByteArray& program, const char* target, const char* eol, bool byteWise,
                      const QByteArray& preamble = {})
{
    const QByteArray text = QByteArray(program).replace("\n", eol);
    RestartLocator locator = target[0] == 'L' ? RestartLocator::AtLine(atoll(target + 1))
                                              : RestartLocator::AtBlock(atoll(target + 1));
    if (!preamble.isEmpty())
        locator.SetPreamble(preamble);
    for (qsizetype i = 0; byteWise && i < text.size(); ++i)
        locator.Add(text.sliced(i, 1));
    if (!byteWise)
        locator.Add(text);
    EXPECT_EQ(std::get<RestartProblem>(locator.Result()).kind, Kind::NotRead);
    locator.Finish();
    EXPECT_EQ(locator.LineCount(), program.count('\n') + !program.endsWith('\n'));
    return locator;
}

// Offsets: 1:0 2:3 3:5 4:7 5:15 6:26 7:34.
const QByteArray kLeaderAndFix =
    QByteArrayLiteral("\0\0\n%\n \nG21 (Z)\n#1=FIX[#2]\nG0 Z .5\nG1 X1.\n");
const QByteArray kLongPreamble = QByteArray("M08\n").repeated(20000) + "N5 X1.\n";

} // namespace

// Each program read with LF, CR LF and CR line ends, whole and a byte at a
// time; the offsets are the LF ones, a CR LF adding one byte per line before.
TEST(RestartLocator, FindsTheRestartLineAndItsLead)
{
    const struct
    {
        QByteArray program;
        const char* target;
        QByteArray preamble; // the operator's, empty: found in the program
        qint64 offset, line;
        QByteArray lead; // after "%\n"
    } rows[] = {
        {kProgram, "N41200", {}, 75, 7, kPreamble},
        {kProgram, "N10", {}, 59, 6, kPreamble},
        {kProgram, "L3", {}, 22, 3, "O1234 (X1. Y2. CUT)\n"},
        {kProgram, "N41200", "G20\r\n %\r\n\r\nG91 G28 Z0\r", 75, 7, "G20\nG91 G28 Z0\n"},
        {kLeaderAndFix, "L7", {}, 34, 7, "G21 (Z)\n#1=FIX[#2]\n"},
        {kLongPreamble, "L2", {}, 4, 2, "M08\n"},
        {"G21\nN5", "N5", {}, 4, 2, "G21\n"},
    };
    for (const auto& row : rows) {
        for (const char* eol : {"\n", "\r\n", "\r"}) {
            for (const bool byteWise : {false, true}) {
                SCOPED_TRACE(std::string(row.target) + " eol " + std::to_string(qstrlen(eol)) +
                             (byteWise ? " bytewise" : ""));
                const RestartLocator locator =
                    Locate(row.program, row.target, eol, byteWise, row.preamble);
                const qint64 crs = qstrlen(eol) == 2 ? row.line - 1 : 0;
                EXPECT_EQ(std::get<RestartPoint>(locator.Result()),
                          (RestartPoint{row.offset + crs, row.line}));
                EXPECT_EQ(locator.Lead(), "%\n" + row.lead);
            }
        }
    }
}

TEST(RestartLocator, NamesWhyThereIsNoRestartPoint)
{
    const struct
    {
        QByteArray program;
        const char* target;
        Kind kind;
        qint64 matches;
        const char* en;
        const char* zhPart;
    } rows[] = {
        {kProgram, "N20", Kind::Ambiguous, 2,
         "N20 starts 2 lines (8, 9): restart at a line number instead", "8、9"},
        {QByteArray("N7\n").repeated(12), "N7", Kind::Ambiguous, 12,
         "N7 starts 12 lines (1, 2, 3, 4, 5, 6, 7, 8, 9, 10 and 2 more): restart at a line "
         "number instead",
         "10 行等"},
        {kProgram, "N30", Kind::NotFound, 0, "N30 is not in the program", "N30"},
        {kProgram, "L12", Kind::BeyondEnd, 0, "line 12 is not in the program, which has 11 lines",
         "11"},
        {kProgram, "L11", Kind::NoBlock, 1,
         "line 11 is blank or a '%' line: restart at a line with a block", "11"},
        {kLongPreamble, "N5", Kind::PreambleTooLong, 1,
         "the lines before the program's first axis word are more than 64 KiB: give the "
         "preamble to send before the restart",
         "64 KiB"},
    };
    for (const auto& row : rows) {
        for (const bool byteWise : {false, true}) {
            SCOPED_TRACE(std::string(row.target) + (byteWise ? " bytewise" : ""));
            const RestartLocator locator = Locate(row.program, row.target, "\r\n", byteWise);
            const RestartProblem problem = std::get<RestartProblem>(locator.Result());
            EXPECT_EQ(problem.kind, row.kind);
            EXPECT_EQ(locator.MatchCount(), row.matches);
            EXPECT_EQ(locator.CandidateLines().size(), qMin<qint64>(row.matches, 10));
            EXPECT_EQ(problem.Message(1), QString::fromUtf8(row.en));
            EXPECT_TRUE(problem.Message(0).contains(QString::fromUtf8(row.zhPart)))
                << problem.Message(0).toStdString();
            EXPECT_EQ(locator.Lead(), "%\n");
        }
    }
}

TEST(RestartLocator, ParsesTheOperatorsBlockNumber)
{
    const struct
    {
        const char* text;
        qint64 value; // -1: refused
    } rows[] = {
        {"N41200", 41200},
        {" n41200 ", 41200},
        {"41200", 41200},
        {"N007", 7},
        {"N999999999", 999999999},
        {"N1000000000", -1},
        {"N", -1},
        {"", -1},
        {"-5", -1},
        {"N-5", -1},
        {"N41a", -1},
        {"N 41200", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = RestartLocator::ParseBlockNumber(QString::fromLatin1(row.text));
        if (row.value >= 0) {
            EXPECT_EQ(std::get<qint64>(parsed), row.value);
            continue;
        }
        const RestartProblem& problem = std::get<RestartProblem>(parsed);
        EXPECT_EQ(problem.kind, Kind::BadBlockNumber);
        EXPECT_TRUE(problem.Message(1).contains(row.text) && problem.Message(0).contains(row.text));
    }
}

// The position a feed shows follows the lines as restart finds blocks, in
// whatever pieces the bytes go out, past a restart's own lead.
TEST(FeedPosition, FollowsLinesAndBlocksInAnyPieces)
{
    const struct
    {
        const char* bytes;
        qint64 lead;
        qint64 line;
        std::optional<qint64> block;
    } rows[] = {
        {"O1\nN10 G0\nN20 X1\n", 0, 3, 20},
        {"N10\r\nG1 X2\r\n", 0, 2, 10},               // CR LF is one line end
        {"N10\rN20\rX3", 0, 3, 20},                   // CR alone too
        {"N10\nN567", 0, 2, 10},                      // N5670 half out is not N567
        {"  /2 N0150 X1\n(N99)\nG1 N7\n", 0, 3, 150}, // a comment or a later N is no block
        {"%\nT1\nN500 X1\n", 5, 40, 500},             // the lead "%\nT1\n" is passed over
        {"%\nT1\n", 5, 40, 480},                      // only the lead: the restart's own block
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        const QByteArray bytes(row.bytes);
        for (const qsizetype piece : {qsizetype(1), bytes.size()}) {
            FeedPosition position(row.lead ? 40 : 1, row.lead,
                                  row.lead ? 480 : std::optional<qint64>());
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                position.Add(QByteArrayView(bytes).sliced(at, qMin(piece, bytes.size() - at)));
            EXPECT_EQ(position.Line(), row.line);
            EXPECT_EQ(position.Block(), row.block);
        }
    }
}
