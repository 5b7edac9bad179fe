// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tapeway {

// The text of an INI file as Windows' profile functions see it: "[section]"
// lines open a section, "key=value" lines inside it hold values. Names are
// matched without regard to letter case and white space around names and
// values is ignored; a value enclosed in a pair of matching quotes comes back
// without them. Lines starting with ';' are comments.
//
// Text is UTF-8. A line that is not (the original Windows program wrote the
// Chinese Windows code page) is read as GB18030. The document keeps the
// file's lines as bytes: a change rewrites only the line it touches (in
// UTF-8), and every other line goes out exactly as it came in, so a program
// that reads the file in the code page still reads them. A leading UTF-8
// byte-order mark and CRLF line ends are kept as found.
class IniDocument
{
public:
    IniDocument() = default;

    static IniDocument FromBytes(const QByteArray& data);
    QByteArray ToBytes() const;

    // The value of the first matching key of the first matching section;
    // nothing when either is missing.
    std::optional<QString> Value(const QString& section, const QString& key) const;

    // Replaces the first matching key's value, or adds the key at the end of
    // its section, or adds the section at the end of the document. False, and
    // nothing changed, when a name or the value cannot be stored in this form
    // (see IsStorable).
    bool SetValue(const QString& section, const QString& key, const QString& value);

    // Whether section, key and value can be written without changing the
    // file's structure: no line breaks or NULs anywhere, a non-empty section
    // without ']', a non-empty key without '=' that does not start with '['
    // or ';' and has no white space at either end.
    static bool IsStorable(const QString& section, const QString& key, const QString& value);

private:
    // Index of the section line, -1 when the section is missing.
    qsizetype FindSection(const QString& section) const;
    // Index of the key line within the section opening at sectionLine, -1
    // when the key is missing.
    qsizetype FindKey(qsizetype sectionLine, const QString& key) const;

    // A line as the file holds it, and its text as UTF-8 (the same bytes
    // unless the line is in the code page).
    struct Line
    {
        QByteArray bytes;
        QByteArray text;
    };
    static Line TextLine(const QByteArray& utf8) { return Line{utf8, utf8}; }

    QList<Line> m_lines;
    bool m_byteOrderMark = false;
    QByteArray m_lineEnd = "\n";
};

} // namespace tapeway
