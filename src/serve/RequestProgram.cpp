// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/RequestProgram.h"

#include "serve/InboxNaming.h"

#include <QRegularExpression>

namespace tapeway {

namespace {

std::optional<int> NumberValue(const QString& number)
{
    static const QRegularExpression form(QStringLiteral("^[Oo]?(\\d{1,5})$"));
    const QRegularExpressionMatch match = form.match(number);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

RequestAsk AskOf(const QString& comment, bool titleLine, bool* title)
{
    RequestAsk ask;
    ask.text = comment.trimmed();
    const QStringList words =
        ask.text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    const QString verb = words.value(0).toUpper();
    static const QRegularExpression block(QStringLiteral("^[Nn](\\d{1,9})$"));
    if (verb == QStringLiteral("LIST") && words.size() == 1) {
        ask.kind = RequestAsk::Kind::List;
    } else if (verb == QStringLiteral("SEND") && words.size() == 2) {
        ask.kind = RequestAsk::Kind::Send;
        ask.target = words[1];
    } else if (verb == QStringLiteral("DNC") && (words.size() == 2 || words.size() == 3) &&
               !words[1].contains(u'*') && !words[1].contains(u'?')) {
        const QRegularExpressionMatch match = block.match(words.value(2));
        if (words.size() == 2 || match.hasMatch()) {
            ask.kind = RequestAsk::Kind::Dnc;
            ask.target = words[1];
            if (match.hasMatch())
                ask.block = match.captured(1).toLongLong();
        }
    }
    // A title says nothing of SEND, DNC or LIST.
    *title = titleLine && ask.kind == RequestAsk::Kind::Unknown && verb != QStringLiteral("SEND") &&
             verb != QStringLiteral("DNC") && verb != QStringLiteral("LIST");
    return ask;
}

} // namespace

std::optional<QString> RequestProgram::ParseNumber(const QString& text)
{
    const auto value = NumberValue(text.trimmed());
    if (!value)
        return std::nullopt;
    return QStringLiteral("O%1").arg(*value);
}

bool RequestProgram::SameNumber(const QString& a, const QString& b)
{
    const auto left = NumberValue(a), right = NumberValue(b);
    return left && right && *left == *right;
}

bool RequestProgram::IsRequest(const QByteArray& data, const QString& requestNumber)
{
    return !requestNumber.isEmpty() && SameNumber(ProgramNumber(data), requestNumber);
}

QList<RequestAsk> RequestProgram::Asks(const QByteArray& data)
{
    static const QRegularExpression comment(QStringLiteral("\\(([^()]*)\\)"));
    static const QRegularExpression numberLine(QStringLiteral("^\\s*[O:]\\d{1,5}(?!\\d)"));
    QList<RequestAsk> asks;
    bool numberSeen = false;
    const QStringList lines =
        QString::fromLatin1(data).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (const QString& line : lines) {
        const bool titleLine = !numberSeen && numberLine.match(line).hasMatch();
        numberSeen = numberSeen || titleLine;
        for (auto it = comment.globalMatch(line); it.hasNext();) {
            bool title = false;
            const RequestAsk ask = AskOf(it.next().captured(1), titleLine, &title);
            if (!title)
                asks << ask;
        }
    }
    return asks;
}

} // namespace tapeway
