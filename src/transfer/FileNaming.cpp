// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/FileNaming.h"

#include "transfer/SystemPath.h"

#include <QDir>
#include <QFileInfo>

namespace tapeway {

namespace {

constexpr int kStagingCandidates = 999;

struct NameParts
{
    QString directory; // everything before the file name, separator included
    QString stem;      // the file name up to its first dot
    QString extension; // after the first dot; null when there is no dot
};

NameParts Split(const QString& path)
{
    const qsizetype start = FileNameStart(path);
    const QString fileName = path.mid(start);
    const qsizetype dot = fileName.indexOf(u'.');
    if (dot < 0)
        return {path.left(start), fileName, QString()};
    return {path.left(start), fileName.left(dot), fileName.mid(dot + 1)};
}

} // namespace

qsizetype FileNameStart(const QString& path)
{
    qsizetype separator = path.lastIndexOf(u'/');
#ifdef Q_OS_WIN
    separator = qMax(separator, path.lastIndexOf(u'\\'));
#endif
    return separator + 1;
}

QString ContinuousName(const QString& base, int n)
{
    if (base.isEmpty())
        return {};
    const NameParts parts = Split(base);
    const QString number = QString::number(n).rightJustified(3, u'0');
    if (parts.extension.isNull())
        return parts.directory + parts.stem + number;
    return parts.directory + parts.stem + number + u'.' + parts.extension;
}

QString StagingName(const QString& target, const QString& tempDir)
{
    if (target.isEmpty())
        return {};
    const QString stem = Split(target).stem;
    const QString prefix = QDir(tempDir).filePath(stem + QStringLiteral(".bak"));
    for (int i = 0; i < kStagingCandidates; ++i) {
        const QString candidate = prefix + QString::number(i);
        if (!PathExists(candidate))
            return candidate;
    }
    // Every candidate is taken: refuse rather than truncate someone's file.
    return {};
}

QString StagingName(const QString& target)
{
    return StagingName(target, QDir::tempPath());
}

} // namespace tapeway
