// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

// The name of the n-th further file of a continuous receive: the base name
// with a counter of at least three digits in front of the extension (the
// text after the first dot of the file name). A name without a dot takes the
// counter at its end: part.nc → part001.nc, O1234 → O1234001. Empty for an
// empty base.
QString ContinuousName(const QString& base, int n);

// A free name in the temporary directory for the data that will replace an
// existing target: <temp>/<stem>.bak0, .bak1 … .bak998, the first that does
// not exist. Empty when the target is empty or every candidate exists.
QString StagingName(const QString& target, const QString& tempDir);
QString StagingName(const QString& target);

// Where the file-name part of a path starts: after the last directory
// separator ("/" here, "\" and "/" on Windows).
qsizetype FileNameStart(const QString& path);

} // namespace tapeway
