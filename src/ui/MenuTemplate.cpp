// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MenuTemplate.h"

#include <QFile>
#include <QStringList>

namespace {

// Splits one line into words, quoted texts (kept with a leading quote as a tag)
// and commas. Answers false on an unterminated text.
bool Tokenise(const QString& line, QStringList* tokens)
{
    int i = 0;
    const int n = line.size();
    while (i < n) {
        const QChar c = line.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c == u'#') {
            break;
        } else if (c == u',') {
            tokens->append(QStringLiteral(","));
            ++i;
        } else if (c == u'"') {
            QString text(QLatin1Char('"'));
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar d = line.at(i++);
                if (d == u'"') {
                    closed = true;
                    break;
                }
                if (d == u'\\' && i < n) {
                    const QChar e = line.at(i++);
                    text.append(e == u't' ? QChar(u'\t') : e);
                } else {
                    text.append(d);
                }
            }
            if (!closed)
                return false;
            tokens->append(text);
        } else {
            int start = i;
            while (i < n && !line.at(i).isSpace() && line.at(i) != u',' && line.at(i) != u'"')
                ++i;
            tokens->append(line.mid(start, i - start));
        }
    }
    return true;
}

bool IsText(const QString& token)
{
    return token.startsWith(QLatin1Char('"'));
}

} // namespace

std::optional<MenuTemplate> MenuTemplate::FromText(const QString& text, QString* error)
{
    auto fail = [error](int lineNo, const QString& why) -> std::optional<MenuTemplate> {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(lineNo).arg(why);
        return std::nullopt;
    };

    MenuTemplate result;
    // The levels being filled: the top level, then each open popup.
    std::vector<std::vector<MenuTemplateItem>*> levels{&result.m_items};
    bool expectBegin = false;

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int lineNo = 1; lineNo <= lines.size(); ++lineNo) {
        QStringList tokens;
        if (!Tokenise(lines.at(lineNo - 1), &tokens))
            return fail(lineNo, QStringLiteral("unterminated text"));
        if (tokens.isEmpty())
            continue;
        const QString keyword = tokens.at(0).toUpper();

        if (expectBegin) {
            if (keyword != QLatin1String("BEGIN") || tokens.size() != 1)
                return fail(lineNo, QStringLiteral("BEGIN expected after POPUP"));
            levels.push_back(&levels.back()->back().children);
            expectBegin = false;
            continue;
        }
        if (keyword == QLatin1String("END")) {
            if (levels.size() < 2 || tokens.size() != 1)
                return fail(lineNo, QStringLiteral("END without a popup"));
            levels.pop_back();
        } else if (keyword == QLatin1String("POPUP")) {
            if (tokens.size() != 2 || !IsText(tokens.at(1)))
                return fail(lineNo, QStringLiteral("POPUP needs one text"));
            MenuTemplateItem item;
            item.kind = MenuTemplateItem::Kind::Popup;
            item.text = tokens.at(1).mid(1);
            levels.back()->push_back(std::move(item));
            expectBegin = true;
        } else if (keyword == QLatin1String("MENUITEM")) {
            MenuTemplateItem item;
            if (tokens.size() == 2 && tokens.at(1).toUpper() == QLatin1String("SEPARATOR")) {
                item.kind = MenuTemplateItem::Kind::Separator;
                levels.back()->push_back(std::move(item));
                continue;
            }
            if (tokens.size() < 4 || !IsText(tokens.at(1)) || tokens.at(2) != QLatin1String(","))
                return fail(lineNo, QStringLiteral("MENUITEM needs a text and a command id"));
            bool ok = false;
            const int id = tokens.at(3).toInt(&ok, 0);
            if (!ok || id < 1 || id > 0xFFFF)
                return fail(lineNo, QStringLiteral("bad command id"));
            item.text = tokens.at(1).mid(1);
            item.commandId = id;
            int i = 4;
            if (i < tokens.size()) {
                if (tokens.at(i) != QLatin1String(","))
                    return fail(lineNo, QStringLiteral("comma expected before flags"));
                ++i;
            }
            for (; i < tokens.size(); ++i) {
                const QString flag = tokens.at(i).toUpper();
                if (flag == QLatin1String("CHECKED"))
                    item.checked = true;
                else if (flag == QLatin1String("GRAYED"))
                    item.grayed = true;
                else if (flag == QLatin1String("RADIO"))
                    item.radio = true;
                else if (flag != QLatin1String(","))
                    return fail(lineNo, QStringLiteral("unknown flag %1").arg(tokens.at(i)));
            }
            levels.back()->push_back(std::move(item));
        } else {
            return fail(lineNo, QStringLiteral("unknown keyword %1").arg(tokens.at(0)));
        }
    }
    if (expectBegin || levels.size() != 1)
        return fail(lines.size(), QStringLiteral("popup not closed"));
    return result;
}

std::optional<MenuTemplate> MenuTemplate::FromFile(const QString& path, QString* error)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1").arg(path);
        return std::nullopt;
    }
    return FromText(QString::fromUtf8(file.readAll()), error);
}
