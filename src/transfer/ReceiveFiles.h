// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace tapeway {

// The local file work of a receive, apart from the line: what can be checked
// before data arrives, the atomic save, and the recovery copy of verified
// data that could not be saved. Each returns false with the reason.

// A reason of the program's own, in either language: a pair of the string
// table (Chinese id, English id) whose text takes the path as %1.
struct LocalReason
{
    int chineseId = 0;
    int englishId = 0;
    QString path;
};

// The target can be written: its folder exists and takes new files, and an
// existing target is a regular file that may be replaced.
bool CheckReceiveTarget(const QString& target, LocalReason* reason);

// The target's volume has room for length bytes; when not, available and
// volume say what it has.
bool CheckRoomFor(const QString& target, qint64 length, qint64* available, QString* volume);

// Puts data under target in one rename: a short temporary name in the
// target's folder (so any name the file system takes works), written,
// flushed to the disk, given the permissions of the file it replaces, then
// renamed over the target. The old content stays until the rename.
bool SaveAtomically(const QString& target, const QByteArray& data, QString* reason);

// Keeps data that arrived intact but could not be saved: under
// <per-user data folder>/tapeway/recovered/NAME-YYYYMMDD-HHMMSS. The path, or
// empty with the reason.
QString KeepRecoveryCopy(const QString& target, const QByteArray& data, QString* reason);

} // namespace tapeway
