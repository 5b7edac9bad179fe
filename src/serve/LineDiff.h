// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace tapeway {

// A unified diff of two texts, line by line ("--- from", "+++ to", hunks
// "@@ -l,n +l,n @@" with context lines around each change), as diff -u
// writes it. Lines compare without their line end, so CR LF against LF is
// no change. Empty when the lines are the same. Past a limit of changes the
// diff stops looking for common lines and replaces the rest whole: still a
// true diff, only a longer one.
QString UnifiedDiff(const QByteArray& from, const QByteArray& to, const QString& fromName,
                    const QString& toName, int context = 3);

} // namespace tapeway
