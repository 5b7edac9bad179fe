// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace tapeway {

// "O1234" when the program names its number: an O (or the ':' of ISO tape
// code) and one to five digits at the start of a line, not followed by a
// further digit. Empty otherwise.
QString ProgramNumber(const QByteArray& data);

// The inbox name of a received program: O1234.nc by its number, else
// LINE-YYYYMMDD-HHMMSS.nc from the line's name and the local time.
QString InboxFileName(const QByteArray& data, const QString& lineName, const QDateTime& time);

// Moves source into dir as name, or as the first free continuous name
// (O1234001.nc, O1234002.nc, ...) when name is taken. An existing file is
// never replaced, even when another process takes a name meanwhile. The new
// path, or empty with *error set.
QString MoveToFreeName(const QString& source, const QString& dir, const QString& name,
                       QString* error);

} // namespace tapeway
