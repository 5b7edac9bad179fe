// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/ReplyProgram.h"

namespace tapeway {

namespace {

QByteArray CommentText(const QString& text, std::optional<TapeCodeKind> code)
{
    QByteArray out;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        char ascii = u >= 0x20 && u < 0x7F && u != '(' && u != ')' && u != '%' ? char(u) : '?';
        if (code == TapeCodeKind::Eia && ascii >= 'a' && ascii <= 'z')
            ascii = char(ascii - 'a' + 'A');
        if (code && !TapeCode(*code).CanCarry(ascii))
            ascii = ' ';
        out += ascii;
    }
    return out;
}

} // namespace

QByteArray ReplyProgram::Program(const QString& number, const QStringList& comments,
                                 std::optional<TapeCodeKind> code)
{
    QByteArray text = "%\n" + number.toLatin1();
    for (qsizetype i = 0; i < comments.size(); ++i)
        text += (i == 0 ? " (" : "\n(") + CommentText(comments[i], code) + ")";
    return text + "\n%\n";
}

QByteArray ReplyProgram::Build(const QString& number, const QString& comment,
                               std::optional<TapeCodeKind> code)
{
    return Program(number, {comment}, code);
}

QByteArray ReplyProgram::List(const QString& number, const QList<Library::Entry>& entries,
                              std::optional<TapeCodeKind> code)
{
    QStringList comments{QStringLiteral("LIBRARY %1").arg(entries.size())};
    for (qsizetype i = 0; i < entries.size() && i < kMostListed; ++i)
        comments << (entries[i].number.isEmpty()
                         ? entries[i].name
                         : QStringLiteral("%1 %2").arg(entries[i].name, entries[i].number));
    if (entries.size() > kMostListed)
        comments << QStringLiteral("AND %1 MORE").arg(entries.size() - kMostListed);
    return Program(number, comments, code);
}

} // namespace tapeway
