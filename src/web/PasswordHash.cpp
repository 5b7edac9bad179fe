// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/PasswordHash.h"

#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace tapeway {

namespace {

constexpr int kMinIterations = 1000;
constexpr int kMaxIterations = 100000000;

} // namespace

QByteArray PasswordHash::Derive(const QString& password, const QByteArray& salt, int iterations,
                                int keyBytes)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, quint64(keyBytes));
}

PasswordHash PasswordHash::Make(const QString& password, int iterations)
{
    PasswordHash hash;
    hash.iterations = iterations;
    hash.salt.resize(kSaltBytes);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(hash.salt.data()),
                                          kSaltBytes / int(sizeof(quint32)));
    hash.key = Derive(password, hash.salt, iterations);
    return hash;
}

bool PasswordHash::SameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

bool PasswordHash::Verify(const QString& password) const
{
    if (key.isEmpty() || salt.isEmpty())
        return false;
    return SameBytes(Derive(password, salt, iterations, int(key.size())), key);
}

QString PasswordHash::ToText() const
{
    return QStringLiteral("pbkdf2-sha256:%1:%2:%3")
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64()));
}

bool PasswordHash::FromText(const QString& text, PasswordHash* hash)
{
    const QStringList parts = text.split(u':');
    if (parts.size() != 4 || parts[0] != QStringLiteral("pbkdf2-sha256"))
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < kMinIterations || iterations > kMaxIterations)
        return false;
    const auto salt = QByteArray::fromBase64Encoding(parts[2].toLatin1(),
                                                     QByteArray::AbortOnBase64DecodingErrors);
    const auto key = QByteArray::fromBase64Encoding(parts[3].toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !key || salt.decoded.isEmpty() || key.decoded.size() < 16)
        return false;
    hash->iterations = iterations;
    hash->salt = salt.decoded;
    hash->key = key.decoded;
    return true;
}

} // namespace tapeway
