// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/HttpSection.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace tapeway {

namespace {

const QString kListen = QStringLiteral("Listen");
const QString kUsers = QStringLiteral("Users");
const QString kCertificate = QStringLiteral("Certificate");
const QString kKey = QStringLiteral("Key");
const QString kMaxUpload = QStringLiteral("MaxUpload");
const QString kClientTimeout = QStringLiteral("ClientTimeout");
constexpr int kMaxClientTimeoutS = 3600;

} // namespace

bool HttpSection::IsNamed(const QString& sectionName)
{
    return sectionName.compare(Name(), Qt::CaseInsensitive) == 0;
}

const QStringList& HttpSection::Keys()
{
    static const QStringList keys = {kListen, kUsers,     kCertificate,
                                     kKey,    kMaxUpload, kClientTimeout};
    return keys;
}

std::optional<QString> HttpSection::KnownKey(const QString& key)
{
    for (const QString& known : Keys()) {
        if (known.compare(key, Qt::CaseInsensitive) == 0)
            return known;
    }
    return std::nullopt;
}

std::optional<qint64> HttpSection::ParseSize(const QString& text)
{
    QString digits = text.trimmed();
    qint64 unit = 1;
    if (!digits.isEmpty()) {
        switch (digits.back().toUpper().unicode()) {
        case u'K':
            unit = 1024;
            break;
        case u'M':
            unit = 1024 * 1024;
            break;
        case u'G':
            unit = 1024 * 1024 * 1024;
            break;
        default:
            break;
        }
    }
    if (unit > 1)
        digits.chop(1);
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    // Digits only: no sign, no spaces, no hexadecimal.
    if (!ok || digits.isEmpty() || !std::all_of(digits.cbegin(), digits.cend(), [](QChar c) {
            return c >= u'0' && c <= u'9';
        }))
        return std::nullopt;
    if (number <= 0 || number > std::numeric_limits<qint64>::max() / unit)
        return std::nullopt;
    return number * unit;
}

bool HttpSection::ParseListen(const QString& text, QHostAddress* address, quint16* port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    const QString portText = text.mid(colon + 1);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':'))
        return false; // an IPv6 address is written in brackets: [::1]:8470
    bool ok = false;
    const uint number = portText.toUInt(&ok);
    if (!ok || portText.isEmpty() || !portText.front().isDigit() || number > 65535)
        return false;
    QHostAddress parsed;
    if (!parsed.setAddress(host) || !parsed.scopeId().isEmpty())
        return false;
    *address = parsed;
    *port = quint16(number);
    return true;
}

std::optional<HttpConfig> HttpSection::Read(int sectionLine, const QHash<QString, Value>& values,
                                            const QString& base, const Error& error)
{
    HttpConfig config;
    config.sourceLine = sectionLine;
    bool good = true;
    const auto bad = [&](int line, const QString& reason) {
        error(line, reason);
        good = false;
    };
    const Value listen = values.value(kListen);
    if (listen.line == 0)
        bad(sectionLine, QStringLiteral("[HTTP] needs Listen=ADDRESS:PORT, such as "
                                        "127.0.0.1:8470"));
    else if (!ParseListen(listen.text, &config.address, &config.port))
        bad(listen.line, QStringLiteral("Listen is ADDRESS:PORT, such as 127.0.0.1:8470 or "
                                        "[::1]:8470 (port 0: any free port), not \"%1\"")
                             .arg(listen.text));
    // A file's path from the configuration's folder; empty stays empty.
    const auto file = [&](const QString& key) -> QString {
        const Value value = values.value(key);
        if (value.text.isEmpty())
            return {};
        const QFileInfo info(QDir(base).absoluteFilePath(value.text));
        if (info.isDir())
            bad(value.line, QStringLiteral("%1 names a folder, %2, not a file")
                                .arg(key, info.absoluteFilePath()));
        return QDir::cleanPath(info.absoluteFilePath());
    };
    config.users = file(kUsers);
    config.certificate = file(kCertificate);
    config.key = file(kKey);
    if (good && listen.line > 0 && !config.Loopback() && config.users.isEmpty())
        bad(listen.line, QStringLiteral("Listen=%1 is reachable from other computers: it needs "
                                        "Users=FILE (tapeway-cli user add makes it)")
                             .arg(listen.text));
    if (config.certificate.isEmpty() != config.key.isEmpty()) {
        const Value given = values.value(config.key.isEmpty() ? kCertificate : kKey);
        bad(given.line, config.key.isEmpty()
                            ? QStringLiteral("Certificate= needs Key=, its private key (PEM)")
                            : QStringLiteral("Key= needs Certificate=, the certificate (PEM)"));
    }
    for (const QString& key : {kCertificate, kKey}) {
        const Value value = values.value(key);
        const QString path = key == kKey ? config.key : config.certificate;
        if (!path.isEmpty() && !QFileInfo(path).isDir() && !QFileInfo(path).isReadable())
            bad(value.line,
                QStringLiteral("the %1 file %2 cannot be read")
                    .arg(key == kKey ? QStringLiteral("key") : QStringLiteral("certificate"),
                         path));
    }
    if (const Value upload = values.value(kMaxUpload); upload.line > 0) {
        const auto size = ParseSize(upload.text);
        if (size)
            config.maxUpload = *size;
        else
            bad(upload.line, QStringLiteral("MaxUpload is a number of bytes above 0, with K, M "
                                            "or G after it if wanted (64M), not \"%1\"")
                                 .arg(upload.text));
    }
    if (const Value timeout = values.value(kClientTimeout); timeout.line > 0) {
        bool ok = false;
        const int seconds = timeout.text.toInt(&ok);
        if (ok && seconds >= 1 && seconds <= kMaxClientTimeoutS)
            config.clientTimeoutS = seconds;
        else
            bad(timeout.line,
                QStringLiteral("ClientTimeout is a number of seconds from 1 to %1, not \"%2\"")
                    .arg(kMaxClientTimeoutS)
                    .arg(timeout.text));
    }
    if (!good)
        return std::nullopt;
    return config;
}

} // namespace tapeway
