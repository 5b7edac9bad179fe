// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/BlockHead.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <variant>

namespace tapeway {

// Why a restart point cannot be given, in both languages.
struct RestartProblem
{
    enum class Kind
    {
        BadBlockNumber,  // the operator's text is no block number
        NotRead,         // asked before the whole program was read
        NotFound,        // the block number is in no line
        Ambiguous,       // the block number starts more than one line
        BeyondEnd,       // the line number is past the program's last line
        NoBlock,         // the line asked for is blank or a '%' line
        PreambleTooLong, // the lines before the first axis word are too many to keep
    };

    Kind kind = Kind::NotFound;
    QString reasonEn;
    QString reasonZh;

    // The reason in the language (0 Chinese, otherwise English).
    QString Message(int language) const { return language == 0 ? reasonZh : reasonEn; }
};

// Where the feed starts again: the byte of the file where the restart line
// starts (its first byte after the previous line's end, leading blanks
// included) and that line's number, counted from 1.
struct RestartPoint
{
    qint64 offset = 0;
    qint64 line = 0;

    bool operator==(const RestartPoint&) const = default;
};

// Finds where a program restarts, reading it once in blocks of any size and
// keeping only what the answer needs, so a program of gigabytes costs a few
// tens of KiB.
//
// Lines end with LF, CR LF or CR; a CR LF split between two blocks is one
// line end, and a last line without a line end is a line too.
//
// A block number is found on a line that starts with it, as BlockHead reads
// a line's head (a skippable block "/N100" is still the block the operator
// means).
//
// The preamble, unless the operator gives it, is the program's lines before
// the first line with an axis word, less blank lines (only blanks) and '%'
// lines (the first non-blank character is '%'), each kept as in the file.
// An axis word is one of X Y Z A B C U V W (either case), not preceded by a
// letter (FIX[ is a function, not an address), then blanks, then a digit,
// '.', '+', '-', '#', '[' or '=': a value given by a variable or an
// expression moves the axis as well as a number does, so it ends the
// preamble too. Text from '(' to ')' or the line's end and from ';' to the
// line's end is comment. When the restart line itself lies within the
// preamble, only the preamble lines before it are carried.
//
// The preamble is kept up to kMaxPreambleBytes (its lines with their "\n");
// a restart that would need more is a problem: the operator gives the
// preamble then.
class RestartLocator
{
public:
    static constexpr qsizetype kMaxPreambleBytes = 64 * 1024;
    static constexpr int kMaxCandidates = 10;
    static constexpr qint64 kMaxBlockNumber = BlockHead::kMaxNumber;

    // Restart at the line that starts with block number `block` (0 up to
    // kMaxBlockNumber).
    static RestartLocator AtBlock(qint64 block);
    // Restart at line `line` of the file (from 1).
    static RestartLocator AtLine(qint64 line);

    // The operator's preamble instead of the one found in the program: its
    // lines (any line ends) less blank and '%' lines, all of them carried
    // whatever the restart line. No limit applies, the text is the
    // operator's. Given before the first Add.
    void SetPreamble(QByteArrayView text);

    void Add(QByteArrayView bytes);
    // The program has been read to its end.
    void Finish();

    // After Finish: the restart point, or why there is none.
    std::variant<RestartPoint, RestartProblem> Result() const;

    // What goes on the wire before the file's bytes from the restart point's
    // offset: "%\n" and then every preamble line followed by "\n". The
    // caller feeds a TapeSender this and then the file from the offset; as
    // it begins with a '%' line the sender adds none, and it turns each
    // "\n" into the profile's end of block. Only "%\n" while Result() is a
    // problem.
    QByteArray Lead() const;

    // Lines read so far (all the program's lines after Finish).
    qint64 LineCount() const { return m_lines; }
    // Lines that start with the block number asked for, and the first
    // kMaxCandidates of their line numbers.
    qint64 MatchCount() const { return m_matchCount; }
    QList<qint64> CandidateLines() const;

    // The operator's block number: "N41200", "n41200" or "41200", blanks
    // around it allowed; refused when the digits are missing, when anything
    // else is in it (a sign included) or when it is past kMaxBlockNumber.
    static std::variant<qint64, RestartProblem> ParseBlockNumber(QStringView text);

private:
    enum class LineKind
    {
        Blank,
        Percent,
        Content
    };
    struct Match
    {
        RestartPoint point;
        qsizetype leadBytes; // the preamble's bytes before this line, -1 when past the limit
    };

    RestartLocator(bool byBlock, qint64 target);

    void Step(char c);
    void BeginLine();
    void EndLine();
    void EndNumber();
    void StepPreamble(char c);
    void AddMatch();
    bool Settled() const { return m_head.Done() && !m_preambleOpen; }

    bool m_byBlock;
    qint64 m_target;
    bool m_finished = false;

    qint64 m_offset = 0; // bytes read
    qint64 m_lines = 0;  // lines begun
    qint64 m_lineStart = 0;
    bool m_inLine = false;
    bool m_afterCr = false;
    LineKind m_lineKind = LineKind::Blank;

    BlockHead m_head;

    bool m_operatorPreamble = false;
    bool m_preambleOpen = true;
    bool m_preambleOverflow = false;
    QByteArray m_preamble; // lines, each followed by "\n"
    QByteArray m_lineText; // the current line while it may join the preamble
    bool m_lineTooLong = false;
    bool m_inParen = false;
    bool m_restIsComment = false;
    bool m_afterLetter = false;
    bool m_axisPending = false;

    QList<Match> m_matches; // the first kMaxCandidates
    qint64 m_matchCount = 0;
    bool m_targetHoldsNoBlock = false;
};

} // namespace tapeway
