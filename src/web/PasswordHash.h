// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace tapeway {

// A salted, slow password hash: PBKDF2-HMAC-SHA256 (RFC 8018) with a
// 16-byte random salt and a 32-byte key. Deriving takes a noticeable time on
// purpose: it runs on a worker thread, never on the event loop.
class PasswordHash
{
public:
    static constexpr int kIterations = 310000;
    static constexpr int kSaltBytes = 16;
    static constexpr int kKeyBytes = 32;

    int iterations = kIterations;
    QByteArray salt;
    QByteArray key;

    // A new hash of the password under a fresh random salt.
    static PasswordHash Make(const QString& password, int iterations = kIterations);
    static QByteArray Derive(const QString& password, const QByteArray& salt, int iterations,
                             int keyBytes = kKeyBytes);
    // Whether password gives this key; the comparison takes the same time
    // wherever the keys differ.
    bool Verify(const QString& password) const;
    static bool SameBytes(const QByteArray& a, const QByteArray& b);

    // "pbkdf2-sha256:ITERATIONS:SALT_BASE64:HASH_BASE64" and back.
    QString ToText() const;
    static bool FromText(const QString& text, PasswordHash* hash);
};

} // namespace tapeway
