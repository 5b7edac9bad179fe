// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/PasswordHash.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace tapeway {

// The office view's users: one per line, NAME:ROLE:pbkdf2-sha256:ITER:SALT:HASH,
// '#' comments. Written with mode 0600 under a fresh name and renamed, so a
// reader never sees half a file. The service reads it again when its time
// or size changed.
class UsersFile
{
public:
    enum class Role
    {
        Viewer,
        Operator,
        Admin,
    };
    struct User
    {
        QString name;
        Role role = Role::Viewer;
        PasswordHash hash;
    };

    static QString RoleName(Role role);
    static bool RoleNamed(const QString& name, Role* role);
    // 1 to 64 of [A-Za-z0-9._-], not starting with '.'.
    static bool IsValidName(const QString& name);

    explicit UsersFile(const QString& path = {});

    // False with "PATH:LINE: reason" or the system's reason. A missing file
    // reads as no users when missingIsEmpty.
    bool Load(QString* error, bool missingIsEmpty = false);
    bool Save(QString* error) const;
    // Reads again when the file's time or size changed; true when it was
    // read (error set when that failed, and the users stay as they were).
    bool ReloadIfChanged(QString* error);

    const QList<User>& Users() const { return m_users; }
    const User* Find(const QString& name) const;
    // Adds or replaces; false when name was new.
    bool Put(const User& user);
    bool Remove(const QString& name);
    const QString& Path() const { return m_path; }

private:
    QString m_path;
    QList<User> m_users;
    QDateTime m_modified;
    qint64 m_size = -1;
};

} // namespace tapeway
