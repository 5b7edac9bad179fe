// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

// What a move does when the folder holds a file of the name already.
enum class OnTaken
{
    NextFreeName, // the first free continuous name (O1234001.nc, ...): nothing is replaced
    Replace,      // the existing file is replaced in one rename
    Refuse,       // the move fails, and the existing file stays
};

// Moves the file source into dir as name. On one file system that is one
// rename; across file systems the data is copied to a hidden temporary name
// in dir, flushed to the disk and then renamed, so that the name shows either
// nothing, the old file or the whole new one, and source goes only after
// that. The new path, or empty with *error set (source then stays).
QString MoveFile(const QString& source, const QString& dir, const QString& name, OnTaken onTaken,
                 QString* error);

} // namespace tapeway
