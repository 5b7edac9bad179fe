// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/InboxNaming.h"

#include "transfer/FileNaming.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace tapeway {

namespace {

constexpr int kContinuousNames = 1000;

} // namespace

QString ProgramNumber(const QByteArray& data)
{
    // ISO tape code also writes the program number's O as ':'.
    static const QRegularExpression number(QStringLiteral("(?:^|[\\r\\n])[O:](\\d{1,5})(?!\\d)"));
    // Only the bytes up to the first match matter; a program is ASCII text.
    const QRegularExpressionMatch match = number.match(QString::fromLatin1(data));
    return match.hasMatch() ? u'O' + match.captured(1) : QString();
}

QString InboxFileName(const QByteArray& data, const QString& lineName, const QDateTime& time)
{
    const QString number = ProgramNumber(data);
    if (!number.isEmpty())
        return number + QStringLiteral(".nc");
    return QStringLiteral("%1-%2.nc")
        .arg(lineName, time.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QString MoveToFreeName(const QString& source, const QString& dir, const QString& name,
                       QString* error)
{
    const QString base = QDir(dir).filePath(name);
    for (int n = 0; n < kContinuousNames; ++n) {
        const QString candidate = n == 0 ? base : ContinuousName(base, n);
        if (PathExists(candidate))
            continue;
        // The rename never replaces a file: a name taken since the look is passed over.
        if (RenamePath(source, candidate, false, error))
            return candidate;
        if (!PathExists(candidate))
            return {};
    }
    *error = QStringLiteral("no free name for %1 in %2").arg(name, dir);
    return {};
}

} // namespace tapeway
