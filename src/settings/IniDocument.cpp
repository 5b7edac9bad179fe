// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/IniDocument.h"

#include <QStringDecoder>

namespace tapeway {

namespace {

const QByteArray kByteOrderMark("\xEF\xBB\xBF");

// Names and values as text. A U+FEFF at the start of one is part of it (the
// file's own byte-order mark is taken off apart), so it must not be dropped
// like a byte-order mark, or a value would not read back as it was written.
QString Decode(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// A line that is not UTF-8 was written in the Chinese Windows code page: its
// text as UTF-8, or nothing when it is not GB18030 either (then its bytes
// are kept as they are).
std::optional<QByteArray> FromWindowsCodePage(const QByteArray& text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString probe = utf8.decode(text); // decode() decodes only when taken as text
    if (!utf8.hasError())
        return std::nullopt;
    QStringDecoder gb18030("GB18030", QStringDecoder::Flag::Stateless);
    if (!gb18030.isValid())
        return std::nullopt;
    const QString decoded = gb18030.decode(text);
    if (gb18030.hasError())
        return std::nullopt;
    return decoded.toUtf8();
}

// The name of the section a line opens, or nothing when it opens none.
std::optional<QString> SectionName(const QByteArray& line)
{
    const QByteArray text = line.trimmed();
    if (!text.startsWith('['))
        return std::nullopt;
    const qsizetype close = text.indexOf(']');
    const QByteArray name = close < 0 ? text.mid(1) : text.mid(1, close - 1);
    return Decode(name.trimmed());
}

struct KeyLine
{
    QByteArray key;
    QByteArray value;
};

// The key and the raw value of a "key=value" line; nothing for blank lines,
// comments, section lines and lines without '='.
std::optional<KeyLine> SplitKeyLine(const QByteArray& line)
{
    const QByteArray text = line.trimmed();
    if (text.isEmpty() || text.startsWith(';') || text.startsWith('['))
        return std::nullopt;
    const qsizetype equals = text.indexOf('=');
    if (equals < 0)
        return std::nullopt;
    return KeyLine{text.left(equals).trimmed(), text.mid(equals + 1).trimmed()};
}

QString DecodeValue(QByteArray value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return Decode(value);
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool HasLineBreakOrNul(const QString& text)
{
    return text.contains(u'\n') || text.contains(u'\r') || text.contains(QChar(0));
}

} // namespace

IniDocument IniDocument::FromBytes(const QByteArray& data)
{
    IniDocument document;
    QByteArray text = data;
    if (text.startsWith(kByteOrderMark)) {
        document.m_byteOrderMark = true;
        text.remove(0, kByteOrderMark.size());
    }
    if (text.contains("\r\n"))
        document.m_lineEnd = "\r\n";
    if (text.isEmpty())
        return document;
    QList<QByteArray> lines = text.split('\n');
    if (text.endsWith('\n'))
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        // Line by line: the original program wrote the code page, this one
        // may have added UTF-8 lines since.
        const std::optional<QByteArray> converted = FromWindowsCodePage(line);
        document.m_lines.append(Line{line, converted.value_or(line)});
    }
    return document;
}

QByteArray IniDocument::ToBytes() const
{
    QByteArray data;
    if (m_byteOrderMark)
        data += kByteOrderMark;
    for (const Line& line : m_lines) {
        data += line.bytes;
        data += m_lineEnd;
    }
    return data;
}

qsizetype IniDocument::FindSection(const QString& section) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const std::optional<QString> name = SectionName(m_lines[i].text);
        if (name && SameName(*name, section.trimmed()))
            return i;
    }
    return -1;
}

qsizetype IniDocument::FindKey(qsizetype sectionLine, const QString& key) const
{
    const QString wanted = key.trimmed();
    for (qsizetype i = sectionLine + 1; i < m_lines.size(); ++i) {
        if (SectionName(m_lines[i].text))
            break;
        const std::optional<KeyLine> line = SplitKeyLine(m_lines[i].text);
        if (line && SameName(Decode(line->key), wanted))
            return i;
    }
    return -1;
}

std::optional<QString> IniDocument::Value(const QString& section, const QString& key) const
{
    const qsizetype sectionLine = FindSection(section);
    if (sectionLine < 0)
        return std::nullopt;
    const qsizetype keyLine = FindKey(sectionLine, key);
    if (keyLine < 0)
        return std::nullopt;
    return DecodeValue(SplitKeyLine(m_lines[keyLine].text)->value);
}

bool IniDocument::IsStorable(const QString& section, const QString& key, const QString& value)
{
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value))
        return false;
    if (section.trimmed().isEmpty() || section.contains(u']'))
        return false;
    if (key.isEmpty() || key != key.trimmed() || key.contains(u'=') || key.startsWith(u'[') ||
        key.startsWith(u';'))
        return false;
    return true;
}

bool IniDocument::SetValue(const QString& section, const QString& key, const QString& value)
{
    if (!IsStorable(section, key, value))
        return false;

    qsizetype sectionLine = FindSection(section);
    if (sectionLine < 0) {
        m_lines.append(TextLine('[' + section.trimmed().toUtf8() + ']'));
        m_lines.append(TextLine(key.toUtf8() + '=' + value.toUtf8()));
        return true;
    }

    const qsizetype keyLine = FindKey(sectionLine, key);
    if (keyLine >= 0) {
        // Keep the key as the file spells it; only the value changes.
        m_lines[keyLine] =
            TextLine(SplitKeyLine(m_lines[keyLine].text)->key + '=' + value.toUtf8());
        return true;
    }

    // A new key goes after the last non-blank line of its section.
    qsizetype last = sectionLine;
    for (qsizetype i = sectionLine + 1; i < m_lines.size() && !SectionName(m_lines[i].text); ++i) {
        if (!m_lines[i].text.trimmed().isEmpty())
            last = i;
    }
    m_lines.insert(last + 1, TextLine(key.toUtf8() + '=' + value.toUtf8()));
    return true;
}

} // namespace tapeway
