// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tapeway {

// The folder of programs a line's machine may ask for. Only regular files
// directly in it count: hidden names, folders and symbolic links (which
// could reach any file the service may read) are no programs of it. A
// program's number is the one its file name starts with (O1234.nc,
// o1234-bracket.nc) or else the one its first O block names.
class Library
{
public:
    enum class Result
    {
        Found,
        NotFound,
        Refused, // a name that would reach outside the folder
    };

    struct Entry
    {
        QString name;   // the file name as the system has it
        QString number; // "O1234", empty when it has none
        QString path;
    };

    struct Lookup
    {
        Result result = Result::NotFound;
        QStringList paths; // Found: one, or every match of a pattern in name order
    };

    explicit Library(const QString& folder) : m_folder(folder) {}

    QString Folder() const { return m_folder; }
    // Every program, in name order.
    QList<Entry> Entries() const;
    // A program number (O1234, o0012) finds the program of that number
    // (by its file name first, then by its first O block), else the file of
    // exactly that name; a pattern with * or ? finds every file whose name
    // or number it matches; any other target is a file name, its letter
    // case as the file system has it.
    Lookup Find(const QString& target) const;
    // Names with '/', '\', "..", a drive letter or nothing at all.
    static bool IsRefused(const QString& target);

private:
    QString m_folder;
};

} // namespace tapeway
