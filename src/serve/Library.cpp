// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/Library.h"

#include "serve/InboxNaming.h"
#include "serve/RequestProgram.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>

namespace tapeway {

namespace {

// Enough for the '%', a comment or two and the O block of any program.
constexpr qint64 kHeadBytes = 4096;

QString NameNumber(const QString& name)
{
    static const QRegularExpression number(QStringLiteral("^[Oo](\\d{1,5})(?!\\d)"));
    const QRegularExpressionMatch match = number.match(name);
    return match.hasMatch() ? u'O' + match.captured(1) : QString();
}

QString HeadNumber(const QString& path)
{
    QFile file;
    if (!OpenPath(file, path, QIODevice::ReadOnly, nullptr))
        return {};
    return ProgramNumber(file.read(kHeadBytes));
}

} // namespace

bool Library::IsRefused(const QString& target)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return target.isEmpty() || target.contains(u'/') || target.contains(u'\\') ||
           target.contains(QStringLiteral("..")) || drive.match(target).hasMatch();
}

QList<Library::Entry> Library::Entries() const
{
    QList<Entry> entries;
    if (m_folder.isEmpty())
        return entries;
    QStringList names = ListFolder(m_folder);
    std::sort(names.begin(), names.end());
    for (const QString& name : std::as_const(names)) {
        const QString path = QDir(m_folder).filePath(name);
        const PathStatus info = StatPath(path);
        if (name.startsWith(u'.') || info.isLink || !info.isFile)
            continue;
        QString number = NameNumber(name);
        entries.append({name, number.isEmpty() ? HeadNumber(path) : number, path});
    }
    return entries;
}

Library::Lookup Library::Find(const QString& target) const
{
    if (IsRefused(target))
        return {Result::Refused, {}};
    const QList<Entry> entries = Entries();
    QStringList paths;
    if (target.contains(u'*') || target.contains(u'?')) {
        const QRegularExpression name(QRegularExpression::wildcardToRegularExpression(target));
        const QRegularExpression number(QRegularExpression::wildcardToRegularExpression(target),
                                        QRegularExpression::CaseInsensitiveOption);
        for (const Entry& entry : entries) {
            if (name.match(entry.name).hasMatch() ||
                (!entry.number.isEmpty() && number.match(entry.number).hasMatch()))
                paths << entry.path;
        }
    } else if (RequestProgram::ParseNumber(target)) {
        // The number a file's name carries first, then the one inside it.
        for (const bool byName : {true, false}) {
            for (const Entry& entry : entries) {
                if (paths.isEmpty() && RequestProgram::SameNumber(entry.number, target) &&
                    byName == !NameNumber(entry.name).isEmpty())
                    paths << entry.path;
            }
        }
    }
    if (paths.isEmpty()) {
        for (const Entry& entry : entries) {
            if (entry.name == target)
                paths << entry.path;
        }
    }
    return {paths.isEmpty() ? Result::NotFound : Result::Found, paths};
}

} // namespace tapeway
