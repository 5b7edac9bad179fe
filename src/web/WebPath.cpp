// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebPath.h"

#include <QHostAddress>
#include <QUrl>

namespace tapeway {

QStringList WebPath::Segments(const QByteArray& encodedPath)
{
    QList<QByteArray> raw = encodedPath.split('/');
    if (!raw.isEmpty() && raw.first().isEmpty())
        raw.removeFirst();
    QStringList segments;
    for (const QByteArray& segment : raw)
        segments << QUrl::fromPercentEncoding(segment);
    return segments;
}

bool WebPath::IsPlainSegment(const QString& segment)
{
    return !segment.isEmpty() && !segment.startsWith(u'.') && !segment.contains(u'/') &&
           !segment.contains(u'\\') && !segment.contains(QChar(0)) &&
           !segment.contains(QChar::ReplacementCharacter);
}

bool WebPath::SameOrigin(const QByteArray& origin, const QByteArray& host, bool tls)
{
    const QUrl from(QString::fromLatin1(origin));
    const QString scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
    const QUrl to(scheme + QStringLiteral("://") + QString::fromLatin1(host));
    const int defaultPort = tls ? 443 : 80;
    return from.isValid() && to.isValid() && !host.isEmpty() && from.scheme() == scheme &&
           from.host().compare(to.host(), Qt::CaseInsensitive) == 0 &&
           from.port(defaultPort) == to.port(defaultPort);
}

bool WebPath::LoopbackHost(const QByteArray& host)
{
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(host));
    if (host.isEmpty() || !url.isValid())
        return false;
    const QString name = url.host().toLower();
    return name == QStringLiteral("localhost") || QHostAddress(name).isLoopback();
}

QByteArray WebPath::AssetType(const QString& name)
{
    static const QList<std::pair<QString, QByteArray>> kTypes = {
        {QStringLiteral(".html"), "text/html; charset=utf-8"},
        {QStringLiteral(".js"), "text/javascript; charset=utf-8"},
        {QStringLiteral(".css"), "text/css; charset=utf-8"},
        {QStringLiteral(".svg"), "image/svg+xml"},
        {QStringLiteral(".png"), "image/png"},
        {QStringLiteral(".ico"), "image/x-icon"},
        {QStringLiteral(".json"), "application/json"},
        {QStringLiteral(".woff2"), "font/woff2"},
        {QStringLiteral(".txt"), "text/plain; charset=utf-8"},
    };
    for (const auto& [suffix, type] : kTypes)
        if (name.endsWith(suffix, Qt::CaseInsensitive))
            return type;
    return "application/octet-stream";
}

QByteArray WebPath::Attachment(const QString& name)
{
    // An ASCII fallback for old clients, the exact name in filename*.
    QByteArray fallback;
    for (const QChar c : name)
        fallback += (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'"' && c != u'\\')
                        ? char(c.unicode())
                        : '_';
    return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" +
           QUrl::toPercentEncoding(name);
}

} // namespace tapeway
