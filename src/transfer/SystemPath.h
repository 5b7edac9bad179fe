// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace tapeway {

// File names as the system has them. A Unix file name is bytes, not text:
// one that is not valid UTF-8 must still be opened, renamed and removed under
// exactly its own name. DecodePath keeps every byte that is not part of a
// valid UTF-8 sequence as a lone surrogate (U+DC80 + byte - 0x80), which no
// decoded text holds otherwise; EncodePath turns those back into their bytes,
// so bytes → QString → bytes is lossless. Every path handed to the system
// goes through EncodePath (Qt's own QFile::encodeName replaces such bytes
// with U+FFFD and names another file).
QString DecodePath(const QByteArray& bytes);
QByteArray EncodePath(const QString& path);

// The path for people to read: every undecodable byte written as \xNN.
QString DisplayPath(const QString& path);
// A field of a tab-separated result line: backslash, tab, newline and
// carriage return written as \\, \t, \n and \r, undecodable bytes as \xNN,
// so that a line holds one record whatever the name holds.
QString EscapeField(const QString& field);

// The system calls on a path in its exact bytes. Each failing one gives the
// system's reason (strerror) in *reason when reason is not null.

// Opens file on path: mode ReadOnly, or WriteOnly (with NewOnly: only a file
// that did not exist). The file is opened on the descriptor, so Qt does not
// know its name (fileName() is empty): the caller keeps the path. A file
// made by the open gets createMode's permission bits (less the umask; Unix).
bool OpenPath(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* reason,
              unsigned createMode = 0666);

struct PathStatus
{
    bool exists = false;
    bool isFile = false;
    bool isDir = false;
    bool isLink = false; // the name itself is a symbolic link (fields follow it)
    qint64 size = 0;
    qint64 modifiedMs = 0; // since the epoch
    qint64 changedMs = 0;  // metadata change, since the epoch
    QFile::Permissions permissions;
    unsigned mode = 0; // the permission bits as the system has them (Unix)
};
// What path names, following a symbolic link; exists false for no file or
// a dangling link (isLink still tells).
PathStatus StatPath(const QString& path);
bool PathExists(const QString& path);
// The user may write to path (access W_OK).
bool PathWritable(const QString& path);
bool RemovePath(const QString& path, QString* reason = nullptr);
// Renames from to to, replacing an existing to when replace is set, else
// failing when to exists.
bool RenamePath(const QString& from, const QString& to, bool replace, QString* reason);
// The names in folder (neither "." nor ".."), decoded.
QStringList ListFolder(const QString& folder);

} // namespace tapeway
