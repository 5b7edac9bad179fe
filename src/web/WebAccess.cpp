// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebAccess.h"

#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QPointer>
#include <QRandomGenerator>
#include <QThreadPool>

namespace tapeway {

namespace {

QByteArray RandomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          count / int(sizeof(quint32)));
    return bytes;
}

QByteArray RandomToken()
{
    return RandomBytes(32).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace

WebAccess::WebAccess(const QString& usersPath, QObject* parent)
    : QObject(parent), m_path(usersPath), m_users(usersPath), m_processKey(RandomBytes(32)),
      m_pool(new QThreadPool(this))
{
    m_pool->setMaxThreadCount(2);
}

// Checks not yet begun are dropped; the ones running are waited for (a
// hash's time at most), so that none answers an object that is gone.
WebAccess::~WebAccess()
{
    m_pool->clear();
    m_pool->waitForDone();
}

bool WebAccess::Start(QString* error)
{
    if (m_path.isEmpty())
        return true;
    if (!m_users.Load(error, true))
        return false;
    if (m_users.Users().isEmpty())
        emit Problem(QStringLiteral("%1 has no users yet: nobody can log in until "
                                    "'tapeway-cli user add --users %1 NAME --role ROLE'")
                         .arg(m_path));
    return true;
}

qint64 WebAccess::Now() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

QByteArray WebAccess::CredentialKey(const QByteArray& credential) const
{
    return QMessageAuthenticationCode::hash(credential, m_processKey, QCryptographicHash::Sha256);
}

// A changed users file takes effect at once: sessions and remembered
// credentials of users whose entry changed or went are dropped.
void WebAccess::Refresh()
{
    if (m_path.isEmpty())
        return;
    QString error;
    const QList<UsersFile::User> before = m_users.Users();
    if (!m_users.ReloadIfChanged(&error))
        return;
    if (!error.isEmpty()) {
        if (error != m_lastProblem)
            emit Problem(error);
        m_lastProblem = error;
        return;
    }
    m_lastProblem.clear();
    ++m_generation;
    m_basic.clear();
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        const UsersFile::User* now = m_users.Find(it->user);
        const auto old = std::find_if(before.begin(), before.end(),
                                      [&](const UsersFile::User& u) { return u.name == it->user; });
        const bool same =
            now && old != before.end() && now->role == old->role && now->hash.key == old->hash.key;
        it = same ? std::next(it) : m_sessions.erase(it);
    }
}

bool WebAccess::StillAllowed(const Identity& who, const QByteArray& sessionToken)
{
    if (m_path.isEmpty())
        return true;
    Refresh();
    if (who.cookie) {
        const auto it = m_sessions.constFind(sessionToken);
        return it != m_sessions.constEnd() && Now() - it->lastUse < kSessionIdleMs;
    }
    const UsersFile::User* user = m_users.Find(who.user);
    return user && user->role == who.role;
}

QByteArray WebAccess::SessionToken(const QByteArray& cookieHeader)
{
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray pair = part.trimmed();
        if (pair.startsWith(QByteArray(kCookie) + '='))
            return pair.mid(qsizetype(qstrlen(kCookie)) + 1);
    }
    return {};
}

void WebAccess::Check(const QString& user, const QString& password,
                      std::function<void(const UsersFile::User*, bool busy)> done)
{
    const UsersFile::User* found = m_users.Find(user);
    // An unknown name costs the same time as a known one.
    PasswordHash hash;
    if (found) {
        hash = found->hash;
    } else {
        hash.salt = QByteArray(PasswordHash::kSaltBytes, 'x');
        hash.key = QByteArray(PasswordHash::kKeyBytes, 'x');
    }
    const bool exists = found != nullptr;
    const quint64 generation = m_generation;
    if (m_checking >= kMaxChecks) {
        done(nullptr, true);
        return;
    }
    ++m_checking;
    QPointer<WebAccess> self(this);
    m_pool->start([=] {
        const bool right = hash.Verify(password) && exists;
        // Back on this object's thread (the web server's), which the
        // destructor keeps alive until every check has answered.
        QMetaObject::invokeMethod(
            self.data(),
            [=] {
                if (!self)
                    return;
                --self->m_checking;
                self->Refresh();
                const UsersFile::User* now = self->m_users.Find(user);
                done(right && now && self->m_generation == generation ? now : nullptr, false);
            },
            Qt::QueuedConnection);
    });
}

void WebAccess::Identify(const QByteArray& cookieHeader, const QByteArray& authorization,
                         Decided decided)
{
    Identity identity;
    if (m_path.isEmpty()) {
        identity.known = true;
        identity.user = QStringLiteral("local");
        identity.role = UsersFile::Role::Admin;
        decided(identity);
        return;
    }
    Refresh();
    const qint64 now = Now();
    // Credentials given with the request count before a session the
    // client also has.
    const QByteArray scheme = authorization.left(6);
    const bool basic = scheme.compare("Basic ", Qt::CaseInsensitive) == 0;
    const QByteArray token = basic ? QByteArray() : SessionToken(cookieHeader);
    if (!token.isEmpty()) {
        const auto it = m_sessions.find(token);
        if (it != m_sessions.end() && now - it->lastUse < kSessionIdleMs) {
            it->lastUse = now;
            identity.known = true;
            identity.user = it->user;
            identity.role = it->role;
            identity.csrf = it->csrf;
            identity.cookie = true;
            decided(identity);
            return;
        }
        if (it != m_sessions.end())
            m_sessions.erase(it);
    }
    if (!basic) {
        decided(identity);
        return;
    }
    const QByteArray credential = authorization.mid(6).trimmed();
    const QByteArray key = CredentialKey(credential);
    const auto remembered = m_basic.find(key);
    if (remembered != m_basic.end() && now < remembered->until) {
        identity.known = true;
        identity.user = remembered->user;
        identity.role = remembered->role;
        decided(identity);
        return;
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(credential, QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded ? decoded.decoded.indexOf(':') : -1;
    if (colon < 0) {
        decided(identity);
        return;
    }
    const QString user = QString::fromUtf8(decoded.decoded.left(colon));
    const QString password = QString::fromUtf8(decoded.decoded.mid(colon + 1));
    QPointer<WebAccess> self(this);
    Check(user, password, [self, key, decided](const UsersFile::User* found, bool busy) {
        Identity identity;
        identity.busy = busy;
        if (found) {
            identity.known = true;
            identity.user = found->name;
            identity.role = found->role;
            self->m_basic.insert(key, {found->name, found->role, self->Now() + kBasicCacheMs});
        }
        decided(identity);
    });
}

void WebAccess::Login(const QString& user, const QString& password, Decided decided)
{
    if (m_path.isEmpty()) {
        Identify({}, {}, decided);
        return;
    }
    Refresh();
    QPointer<WebAccess> self(this);
    Check(user, password, [self, decided](const UsersFile::User* found, bool busy) {
        Identity identity;
        identity.busy = busy;
        if (found) {
            // Expired sessions go when new ones come.
            const qint64 now = self->Now();
            self->m_sessions.removeIf(
                [&](const auto& it) { return now - it.value().lastUse >= kSessionIdleMs; });
            // Past the most sessions, the one unused longest goes.
            if (self->m_sessions.size() >= kMaxSessions) {
                auto oldest = self->m_sessions.begin();
                for (auto it = self->m_sessions.begin(); it != self->m_sessions.end(); ++it)
                    if (it->lastUse < oldest->lastUse)
                        oldest = it;
                self->m_sessions.erase(oldest);
            }
            const QByteArray token = RandomToken();
            Session session{found->name, found->role, QString::fromLatin1(RandomToken()), now};
            self->m_sessions.insert(token, session);
            identity.known = true;
            identity.user = found->name;
            identity.role = found->role;
            identity.csrf = session.csrf;
            identity.cookie = true;
            identity.sessionToken = token;
        }
        decided(identity);
    });
}

void WebAccess::Logout(const QByteArray& cookieHeader)
{
    const QByteArray token = SessionToken(cookieHeader);
    if (!token.isEmpty())
        m_sessions.remove(token);
}

QList<UsersFile::User> WebAccess::Users()
{
    Refresh();
    return m_users.Users();
}

} // namespace tapeway
