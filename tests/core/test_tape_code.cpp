// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/TapeCode.h"
#include "transfer/TapeProfile.h"
#include "transfer/TapeProfileFile.h"

#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace tapeway;

namespace {

quint8 Holes(std::initializer_list<int> channels)
{
    quint8 code = 0;
    for (const int c : channels)
        code |= quint8(1 << (c - 1));
    return code;
}

} // namespace

// Rows of the YASNAC LX3 table as channels punched: the function codes as the
// manual names their holes, and figures and letters by the table's rows.
TEST(TapeCode, EiaRowsAreTheTablesHoles)
{
    const struct
    {
        char c;
        std::initializer_list<int> channels;
    } rows[] = {
        {'\n', {8}},
        {' ', {5}},
        {'(', {2, 4, 5}},
        {')', {2, 4, 7}},
        {'%', {1, 2, 4}},
        {'0', {6}},
        {'1', {1}},
        {'3', {1, 2, 5}},
        {'9', {1, 4, 5}},
        {'A', {1, 6, 7}},
        {'C', {1, 2, 5, 6, 7}},
        {'I', {1, 4, 5, 6, 7}},
        {'J', {1, 5, 7}},
        {'R', {1, 4, 7}},
        {'S', {2, 5, 6}},
        {'Z', {1, 4, 6}},
        {'-', {7}},
        {'+', {5, 6, 7}},
        {'/', {1, 5, 6}},
        {'.', {1, 2, 4, 6, 7}},
    };
    const TapeCode eia(TapeCodeKind::Eia);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.c);
        const quint8 code = Holes(row.channels);
        EXPECT_EQ(eia.Decode(code), row.c);
        if (row.c != '\n') {
            EXPECT_EQ(eia.Encode(row.c), code);
        }
    }
    // Every character of the table: one code each, an odd number of holes, both ways.
    std::set<quint8> codes;
    for (int c = 0; c < 128; ++c)
        if (const auto code = eia.Encode(char(c))) {
            EXPECT_TRUE(TapeCode::HasOddHoles(*code)) << c;
            EXPECT_TRUE(codes.insert(*code).second) << c;
            EXPECT_EQ(eia.Decode(*code), char(c));
        }
    EXPECT_EQ(codes.size(), 46u);
    for (const char refused : {'a', 'z', '#', '\0', '\x13', '\n'})
        EXPECT_FALSE(eia.CanCarry(refused)) << int(refused);
    const TapeCode iso(TapeCodeKind::Iso);
    for (const char carried : {'a', '#', '~', ' ', '\t', '%'})
        EXPECT_EQ(iso.Encode(carried), quint8(carried));
    for (const char refused : {'\0', '\x11', '\x13', '\x7f', '\x80', '\xe4', '\n'})
        EXPECT_FALSE(iso.CanCarry(refused)) << int(refused);
}

TEST(TapeCode, CheckerFindsTheFirstRefusedCharacterAcrossBlocks)
{
    const struct
    {
        TapeCodeKind code;
        std::vector<QByteArray> blocks;
        qint64 line, column, offset; // 0: carried
    } rows[] = {
        {TapeCodeKind::Iso, {"%\nO1\n%\n"}, 0, 0, 0},
        {TapeCodeKind::Iso, {"O1\r", "\nG0 (\xe4\xb8\xad)\n"}, 2, 5, 8},
        {TapeCodeKind::Iso, {"A\rB\n\nC\r\n\x01"}, 5, 1, 8},
        {TapeCodeKind::Iso, {"A\r", "\r", "X\x7f"}, 3, 2, 4},
        {TapeCodeKind::Eia, {"O1\n", "G0 X1.5\n"}, 0, 0, 0},
        {TapeCodeKind::Eia, {"O1\n", "G0 x1\n"}, 2, 4, 6},
        {TapeCodeKind::Eia, {"(A)\r\n#1=2"}, 2, 1, 5},
    };
    for (const auto& row : rows) {
        TapeTextChecker checker{TapeCode(row.code)};
        for (const QByteArray& block : row.blocks)
            checker.Add(block);
        SCOPED_TRACE(row.blocks.back().toStdString());
        EXPECT_EQ(checker.Ok(), row.line == 0);
        if (row.line != 0) {
            EXPECT_EQ(checker.Refused(), (TextPosition{row.line, row.column, row.offset}));
        }
    }
}

TEST(TapeProfile, ValidationNamesTheWrongSetting)
{
    using P = TapeProfile;
    const struct
    {
        std::function<void(P&)> change;
        const char* key; // nullptr: valid
    } rows[] = {
        {[](P&) {}, nullptr},
        {[](P& p) { p.baud = 115200; }, nullptr},
        {[](P& p) { p.baud = 110; }, nullptr},
        {[](P& p) { p.baud = 14400; }, "Baud"},
        {[](P& p) { p.baud = 0; }, "Baud"},
        {[](P& p) { p.dataBits = 6; }, "Frame"},
        {[](P& p) { p.stopBits = 3; }, "Frame"},
        {[](P& p) { p.code = TapeCodeKind::Eia; }, "Frame"},
        {[](P& p) { p.code = TapeCodeKind::Eia, p.SetFrame("8N1"); }, "Eob"},
        {[](P& p) {
             p.code = TapeCodeKind::Eia, p.SetFrame("8N2"), p.endOfBlock = P::EndOfBlock::Cr;
         },
         nullptr},
        {[](P& p) { p.leader = -1; }, "Leader"},
        {[](P& p) { p.trailer = P::kMaxNuls + 1; }, "Trailer"},
        {[](P& p) { p.idleSeconds = 0; }, "Idle"},
        {[](P& p) { p.name = "a]b"; }, "Name"},
    };
    for (const auto& row : rows) {
        P p;
        row.change(p);
        const auto problem = p.Validate();
        SCOPED_TRACE(row.key ? row.key : "valid");
        ASSERT_EQ(problem.has_value(), row.key != nullptr);
        if (problem) {
            EXPECT_EQ(problem->key, QLatin1String(row.key));
            EXPECT_TRUE(problem->Message(0).startsWith(problem->key + ": "));
            EXPECT_NE(problem->Message(0), problem->Message(1));
        }
    }
    P p;
    for (const char* frame : {"7E2", "8N1", "7O1", "8E2"}) {
        EXPECT_TRUE(p.SetFrame(frame));
        EXPECT_EQ(p.FrameText(), QLatin1String(frame));
    }
    for (const char* frame : {"9N1", "8X1", "8N3", "8N", "7e2 x"})
        EXPECT_FALSE(p.SetFrame(frame)) << frame;
    EXPECT_TRUE(p.SetFrame("7e2"));
    EXPECT_EQ(p.BitsPerCharacter(), 11);
}

TEST(TapeProfile, PresetsReadBackAndOwnProfilesOverride)
{
    const QList<TapeProfile> presets = TapeProfileFile::Presets();
    for (const char* name :
         {"Fanuc ISO", "Haas", "Mazak", "Siemens", "Heidenhain EXT", "Mitsubishi", "Plain 8N1"}) {
        const auto p = TapeProfileFile::Find(presets, QLatin1String(name));
        ASSERT_TRUE(p) << name;
        EXPECT_FALSE(p->source.isEmpty()) << name;
    }
    EXPECT_EQ(TapeProfileFile::Read(TapeProfileFile::Write(presets)).profiles, presets);

    const auto mixed = TapeProfileFile::WithOwnProfiles("; mine\n[fanuc iso]\nBaud=9600\n"
                                                        "[Lathe 7]\nFrame=8N1\nCode=EIA\n"
                                                        "[Lathe 8]\nFrame=8N1\nCode=eia\nEob=cr\n"
                                                        "Source=\" shop \"\n");
    const auto fanuc = TapeProfileFile::Find(mixed.profiles, "Fanuc ISO");
    ASSERT_TRUE(fanuc);
    EXPECT_EQ(fanuc->baud, 9600);
    EXPECT_EQ(fanuc->FrameText(), "7E2");
    EXPECT_EQ(fanuc->source, TapeProfileFile::Find(presets, "Fanuc ISO")->source);
    EXPECT_FALSE(TapeProfileFile::Find(mixed.profiles, "Lathe 7"));
    ASSERT_TRUE(TapeProfileFile::Find(mixed.profiles, "Lathe 8"));
    EXPECT_EQ(TapeProfileFile::Find(mixed.profiles, "Lathe 8")->source, " shop ");
    EXPECT_EQ(mixed.profiles.size(), presets.size() + 1);
    ASSERT_EQ(mixed.problems.size(), 1);
    EXPECT_EQ(mixed.problems[0].key, "Eob");
    EXPECT_EQ(mixed.problems[0].line, 4);

    const struct
    {
        const char* text;
        const char* key;
        int line;
    } faults[] = {
        {"[A]\nBuad=9600\n", "Buad", 2},    {"[A]\nBaud=fast\n", "Baud", 2},
        {"[A]\n\nFrame=7X2\n", "Frame", 3}, {"[A]\nDcCodes=maybe\n", "DcCodes", 2},
        {"Baud=9600\n[A]\n", "", 1},        {"[A]\nHandshake\n", "", 2},
        {"[A]\nBaud=9601\n", "Baud", 1},    {"[A]\nEnd=never\n", "End", 2},
    };
    for (const auto& fault : faults) {
        const auto result = TapeProfileFile::Read(fault.text);
        SCOPED_TRACE(fault.text);
        EXPECT_TRUE(result.profiles.isEmpty() || QByteArray(fault.text).startsWith("Baud"));
        ASSERT_EQ(result.problems.size(), 1);
        EXPECT_EQ(result.problems[0].key, QLatin1String(fault.key));
        EXPECT_EQ(result.problems[0].line, fault.line);
    }
}
