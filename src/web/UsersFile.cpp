// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/UsersFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tapeway {

QString UsersFile::RoleName(Role role)
{
    switch (role) {
    case Role::Viewer:
        return QStringLiteral("viewer");
    case Role::Operator:
        return QStringLiteral("operator");
    case Role::Admin:
        return QStringLiteral("admin");
    }
    return {};
}

bool UsersFile::RoleNamed(const QString& name, Role* role)
{
    for (const Role candidate : {Role::Viewer, Role::Operator, Role::Admin}) {
        if (RoleName(candidate) == name) {
            *role = candidate;
            return true;
        }
    }
    return false;
}

bool UsersFile::IsValidName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64 || name.startsWith(u'.'))
        return false;
    for (const QChar c : name) {
        const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                        (c >= u'0' && c <= u'9') || c == u'.' || c == u'_' || c == u'-';
        if (!ok)
            return false;
    }
    return true;
}

UsersFile::UsersFile(const QString& path) : m_path(path) {}

bool UsersFile::Load(QString* error, bool missingIsEmpty)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (missingIsEmpty && !file.exists()) {
            m_users.clear();
            return true;
        }
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    const QFileInfo info(file);
    const QDateTime modified = info.lastModified();
    const qint64 size = info.size();
    QList<User> users;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype first = line.indexOf(u':');
        const qsizetype second = first < 0 ? -1 : line.indexOf(u':', first + 1);
        User user;
        QString why;
        if (second < 0)
            why = QStringLiteral("expected NAME:ROLE:pbkdf2-sha256:ITERATIONS:SALT:HASH");
        else if (user.name = line.left(first), !IsValidName(user.name))
            why = QStringLiteral("\"%1\" is not a user name").arg(user.name);
        else if (!RoleNamed(line.mid(first + 1, second - first - 1), &user.role))
            why = QStringLiteral("the role is not viewer, operator or admin");
        else if (!PasswordHash::FromText(line.mid(second + 1), &user.hash))
            why = QStringLiteral("the password hash is not pbkdf2-sha256:ITERATIONS:SALT:HASH");
        else if (std::any_of(users.begin(), users.end(),
                             [&](const User& u) { return u.name == user.name; }))
            why = QStringLiteral("\"%1\" is there twice").arg(user.name);
        if (!why.isEmpty()) {
            *error = QStringLiteral("%1:%2: %3").arg(m_path).arg(number).arg(why);
            return false;
        }
        users << user;
    }
    if (file.error() != QFile::NoError) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    m_users = users;
    m_modified = modified;
    m_size = size;
    return true;
}

bool UsersFile::ReloadIfChanged(QString* error)
{
    const QFileInfo info(m_path);
    if (info.exists() && info.lastModified() == m_modified && info.size() == m_size)
        return false;
    if (!info.exists() && m_size < 0)
        return false;
    const QList<User> before = m_users;
    // A file that went away leaves no users: nobody logs in any more.
    if (!info.exists()) {
        m_users.clear();
        m_size = -1;
        return true;
    }
    m_users.clear();
    if (!Load(error)) {
        m_users = before;
        return true;
    }
    return true;
}

bool UsersFile::Save(QString* error) const
{
    QByteArray text = "# TAPEWAY office view users: NAME:ROLE:pbkdf2-sha256:ITERATIONS:SALT:HASH\n"
                      "# Kept by 'tapeway-cli user add|remove|list'.\n";
    for (const User& user : m_users)
        text +=
            (user.name + u':' + RoleName(user.role) + u':' + user.hash.ToText() + u'\n').toUtf8();
    // A fresh name made only for the owner (never readable by others, not
    // even for a moment), synced, then renamed over the file.
    const QFileInfo target(m_path);
    const QByteArray fresh =
        QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                          QStringLiteral(".%1.new").arg(QCoreApplication::applicationPid()));
    const auto fail = [&](int code) {
        *error = QStringLiteral("%1: %2").arg(m_path, QString::fromLocal8Bit(strerror(code)));
        ::unlink(fresh.constData());
        return false;
    };
    const int fd = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(errno);
    qsizetype written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + written, size_t(text.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = errno;
            ::close(fd);
            return fail(code);
        }
        written += n;
    }
    if (::fsync(fd) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    ::close(fd);
    if (::rename(fresh.constData(), QFile::encodeName(m_path).constData()) != 0)
        return fail(errno);
    return true;
}

const UsersFile::User* UsersFile::Find(const QString& name) const
{
    for (const User& user : m_users)
        if (user.name == name)
            return &user;
    return nullptr;
}

bool UsersFile::Put(const User& user)
{
    for (User& existing : m_users) {
        if (existing.name == user.name) {
            existing = user;
            return true;
        }
    }
    m_users << user;
    return false;
}

bool UsersFile::Remove(const QString& name)
{
    return m_users.removeIf([&](const User& user) { return user.name == name; }) > 0;
}

} // namespace tapeway
