// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/RestartLocator.h"

#include <QStringList>
#include <algorithm>

namespace tapeway {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\0' || c == '\x7f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAxisLetter(char c)
{
    switch (c) {
    case 'X':
    case 'Y':
    case 'Z':
    case 'A':
    case 'B':
    case 'C':
    case 'U':
    case 'V':
    case 'W':
    case 'x':
    case 'y':
    case 'z':
    case 'a':
    case 'b':
    case 'c':
    case 'u':
    case 'v':
    case 'w':
        return true;
    default:
        return false;
    }
}

// What may follow an axis letter (after blanks) for it to be an axis word.
bool StartsAxisValue(char c)
{
    return IsDigit(c) || c == '.' || c == '+' || c == '-' || c == '#' || c == '[' || c == '=';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

RestartProblem Problem(RestartProblem::Kind kind, const QString& en, const QString& zh)
{
    return RestartProblem{kind, en, zh};
}

QString BlockName(qint64 block)
{
    return QStringLiteral("N%1").arg(block);
}

} // namespace

RestartLocator::RestartLocator(bool byBlock, qint64 target) : m_byBlock(byBlock), m_target(target)
{
}

RestartLocator RestartLocator::AtBlock(qint64 block)
{
    return RestartLocator(true, block);
}

RestartLocator RestartLocator::AtLine(qint64 line)
{
    return RestartLocator(false, line);
}

void RestartLocator::SetPreamble(QByteArrayView text)
{
    m_operatorPreamble = true;
    m_preambleOpen = false;
    m_preamble.clear();
    // A CR LF reads as a line end and an empty line, left out like any blank line.
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsLineEnd(text[i]))
            continue;
        const QByteArrayView line = text.sliced(start, i - start);
        const auto first = std::find_if_not(line.begin(), line.end(), IsBlank);
        if (first != line.end() && *first != '%') {
            m_preamble += line;
            m_preamble += '\n';
        }
        start = i + 1;
    }
}

void RestartLocator::Add(QByteArrayView bytes)
{
    if (m_finished)
        return;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        if (m_inLine && Settled()) {
            // Nothing more to learn from this line: on to its end.
            const char* e = std::find_if(p, end, IsLineEnd);
            m_offset += e - p;
            p = e;
            if (p == end)
                break;
        }
        Step(*p++);
    }
}

void RestartLocator::Finish()
{
    if (m_finished)
        return;
    if (m_inLine)
        EndLine();
    m_finished = true;
}

void RestartLocator::Step(char c)
{
    const bool lfOfCrLf = c == '\n' && m_afterCr;
    m_afterCr = c == '\r';
    if (lfOfCrLf) {
        ++m_offset;
        return;
    }
    if (!m_inLine)
        BeginLine();
    if (IsLineEnd(c)) {
        EndLine();
        ++m_offset;
        return;
    }
    if (m_lineKind == LineKind::Blank && !IsBlank(c))
        m_lineKind = c == '%' ? LineKind::Percent : LineKind::Content;
    if (m_head.Step(c))
        EndNumber();
    if (m_preambleOpen)
        StepPreamble(c);
    ++m_offset;
}

void RestartLocator::BeginLine()
{
    ++m_lines;
    m_lineStart = m_offset;
    m_inLine = true;
    m_lineKind = LineKind::Blank;
    m_head.Begin();
    m_lineText.clear();
    m_lineTooLong = false;
    m_inParen = false;
    m_restIsComment = false;
    m_afterLetter = false;
    m_axisPending = false;
    if (!m_byBlock && m_lines == m_target)
        AddMatch();
}

void RestartLocator::EndLine()
{
    if (m_head.End())
        EndNumber();
    const bool noBlock = m_lineKind != LineKind::Content;
    if (!m_byBlock && m_lines == m_target)
        m_targetHoldsNoBlock = noBlock;
    if (m_preambleOpen && !noBlock) {
        if (m_lineTooLong || m_preamble.size() + m_lineText.size() + 1 > kMaxPreambleBytes) {
            m_preambleOverflow = true;
            m_preambleOpen = false;
        } else {
            m_preamble += m_lineText;
            m_preamble += '\n';
        }
    }
    m_lineText.clear();
    m_inLine = false;
}

void RestartLocator::EndNumber()
{
    if (m_byBlock && m_head.Number() == m_target)
        AddMatch();
}

void RestartLocator::StepPreamble(char c)
{
    if (!m_lineTooLong) {
        if (m_preamble.size() + m_lineText.size() + 1 >= kMaxPreambleBytes) {
            // Kept no further: should the line end the preamble, its text is not needed.
            m_lineTooLong = true;
            m_lineText.clear();
        } else {
            m_lineText += c;
        }
    }
    if (m_restIsComment)
        return;
    if (m_inParen) {
        m_inParen = c != ')';
        return;
    }
    if (c == '(' || c == ';') {
        m_inParen = c == '(';
        m_restIsComment = c == ';';
        m_axisPending = false;
        m_afterLetter = false;
        return;
    }
    if (m_axisPending) {
        if (StartsAxisValue(c)) {
            // The first motion: this line and what follows are not the preamble.
            m_preambleOpen = false;
            m_lineText.clear();
            return;
        }
        if (IsBlank(c))
            return;
        m_axisPending = false;
    }
    m_axisPending = IsAxisLetter(c) && !m_afterLetter;
    m_afterLetter = IsLetter(c);
}

void RestartLocator::AddMatch()
{
    ++m_matchCount;
    if (m_matches.size() >= kMaxCandidates)
        return;
    const qsizetype lead = m_operatorPreamble || !m_preambleOverflow ? m_preamble.size() : -1;
    m_matches.append(Match{RestartPoint{m_lineStart, m_lines}, lead});
}

QList<qint64> RestartLocator::CandidateLines() const
{
    QList<qint64> lines;
    for (const Match& m : m_matches)
        lines.append(m.point.line);
    return lines;
}

std::variant<RestartPoint, RestartProblem> RestartLocator::Result() const
{
    using Kind = RestartProblem::Kind;
    if (!m_finished)
        return Problem(Kind::NotRead, QStringLiteral("the program has not been read to its end"),
                       QStringLiteral("程序尚未读完"));
    if (!m_byBlock && m_matchCount == 0)
        return Problem(Kind::BeyondEnd,
                       QStringLiteral("line %1 is not in the program, which has %2 lines")
                           .arg(m_target)
                           .arg(m_lines),
                       QStringLiteral("程序共 %2 行，没有第 %1 行").arg(m_target).arg(m_lines));
    if (!m_byBlock && m_targetHoldsNoBlock)
        return Problem(
            Kind::NoBlock,
            QStringLiteral("line %1 is blank or a '%' line: restart at a line with a block")
                .arg(m_target),
            QStringLiteral("第 %1 行是空行或 '%' 行：请从有程序段的行重新开始").arg(m_target));
    if (m_matchCount == 0)
        return Problem(Kind::NotFound,
                       QStringLiteral("%1 is not in the program").arg(BlockName(m_target)),
                       QStringLiteral("程序中没有 %1").arg(BlockName(m_target)));
    if (m_matchCount > 1) {
        QStringList lines;
        for (const Match& m : m_matches)
            lines.append(QString::number(m.point.line));
        const qint64 more = m_matchCount - m_matches.size();
        const QString en = more > 0
                               ? QStringLiteral("%1 and %2 more").arg(lines.join(u", ")).arg(more)
                               : lines.join(u", ");
        return Problem(Kind::Ambiguous,
                       QStringLiteral("%1 starts %2 lines (%3): restart at a line number instead")
                           .arg(BlockName(m_target))
                           .arg(m_matchCount)
                           .arg(en),
                       QStringLiteral("%1 出现在 %2 行的开头（第 %3 行%4）：请改用行号重新开始")
                           .arg(BlockName(m_target))
                           .arg(m_matchCount)
                           .arg(lines.join(u"、"), more > 0 ? QStringLiteral("等") : QString()));
    }
    if (m_matches.front().leadBytes < 0)
        return Problem(
            Kind::PreambleTooLong,
            QStringLiteral("the lines before the program's first axis word are more than %1 KiB: "
                           "give the preamble to send before the restart")
                .arg(kMaxPreambleBytes / 1024),
            QStringLiteral(
                "程序第一个坐标字之前的内容超过 %1 KiB：请给出重新开始前要发送的前导程序段")
                .arg(kMaxPreambleBytes / 1024));
    return m_matches.front().point;
}

QByteArray RestartLocator::Lead() const
{
    QByteArray lead("%\n");
    if (std::holds_alternative<RestartPoint>(Result()))
        lead += m_operatorPreamble ? m_preamble : m_preamble.left(m_matches.front().leadBytes);
    return lead;
}

std::variant<qint64, RestartProblem> RestartLocator::ParseBlockNumber(QStringView text)
{
    const QStringView t = text.trimmed();
    const QStringView digits = t.startsWith(u'N', Qt::CaseInsensitive) ? t.sliced(1) : t;
    const bool allDigits =
        !digits.isEmpty() &&
        std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!allDigits)
        return Problem(RestartProblem::Kind::BadBlockNumber,
                       QStringLiteral("\"%1\" is not a block number: give N and its digits, "
                                      "e.g. N41200")
                           .arg(text),
                       QStringLiteral("“%1”不是程序段号：请写 N 和数字，例如 N41200").arg(text));
    qint64 value = 0;
    for (const QChar c : digits) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > kMaxBlockNumber)
            return Problem(
                RestartProblem::Kind::BadBlockNumber,
                QStringLiteral("\"%1\" is past the largest block number N%2")
                    .arg(text)
                    .arg(kMaxBlockNumber),
                QStringLiteral("“%1”超过最大的程序段号 N%2").arg(text).arg(kMaxBlockNumber));
    }
    return value;
}

} // namespace tapeway
