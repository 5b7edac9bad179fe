// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/UsersFile.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <memory>

namespace tapeway {

// Who is asking: the users file, the page's login sessions (a cookie and
// its CSRF token) and HTTP Basic credentials. Password checks run on a
// worker thread and answer on this object's thread, so a login never holds
// the event loop; a verified Basic credential is remembered for a while
// (under an HMAC with a key of this process) so scripts do not pay the hash
// on every request. Without a users file everybody is "local", an admin.
class WebAccess : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kSessionIdleMs = 12LL * 3600 * 1000;
    static constexpr qint64 kBasicCacheMs = 5LL * 60 * 1000;
    static constexpr const char* kCookie = "tapeway_session";
    // Password checks waiting or running at most; more are answered "busy"
    // at once rather than queued without end.
    static constexpr int kMaxChecks = 64;
    static constexpr int kMaxSessions = 1024;

    struct Identity
    {
        bool known = false;
        QString user;
        UsersFile::Role role = UsersFile::Role::Viewer;
        QString csrf;            // the session's token (cookie), empty for Basic
        bool cookie = false;     // came by the session cookie
        QByteArray sessionToken; // Login: the new session's cookie value
        bool busy = false;       // too many password checks at once: try again
    };
    using Decided = std::function<void(const Identity&)>;

    // usersPath empty: no login, everybody is the local admin.
    explicit WebAccess(const QString& usersPath, QObject* parent = nullptr);
    ~WebAccess() override;

    // Reads the users file; false with the reason (a missing file is no users).
    bool Start(QString* error);
    bool UsersRequired() const { return !m_path.isEmpty(); }

    // From a request's Cookie and Authorization header values.
    void Identify(const QByteArray& cookieHeader, const QByteArray& authorization, Decided decided);
    // A new session for a right name and password (identity.known), else unknown.
    void Login(const QString& user, const QString& password, Decided decided);
    void Logout(const QByteArray& cookieHeader);
    // Whether who may still do what it was identified for: its session is
    // still there (not logged out, not idle too long) or, for Basic, its
    // user is still in the users file with the same role. For connections
    // that stay open (the live feed) after the request that opened them.
    bool StillAllowed(const Identity& who, const QByteArray& sessionToken);
    QList<UsersFile::User> Users();
    // The session token of a Cookie header, empty when none.
    static QByteArray SessionToken(const QByteArray& cookieHeader);

    // Messages for the log (a users file that cannot be read any more).
signals:
    void Problem(const QString& text);

private:
    struct Session
    {
        QString user;
        UsersFile::Role role = UsersFile::Role::Viewer;
        QString csrf;
        qint64 lastUse = 0;
    };
    struct Remembered
    {
        QString user;
        UsersFile::Role role = UsersFile::Role::Viewer;
        qint64 until = 0;
    };

    void Refresh();
    void Check(const QString& user, const QString& password,
               std::function<void(const UsersFile::User*, bool busy)> done);
    qint64 Now() const;
    QByteArray CredentialKey(const QByteArray& credential) const;

    QString m_path;
    UsersFile m_users;
    QHash<QByteArray, Session> m_sessions;
    QHash<QByteArray, Remembered> m_basic;
    QByteArray m_processKey;
    quint64 m_generation = 0; // grows when the users changed
    QString m_lastProblem;
    QThreadPool* m_pool; // the password checks, apart from the desk's file work
    int m_checking = 0;
};

} // namespace tapeway
