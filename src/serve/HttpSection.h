// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/HttpConfig.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace tapeway {

// The [HTTP] section of the service's configuration file, the one section
// that is no line: its keys as written, read into an HttpConfig.
class HttpSection
{
public:
    struct Value
    {
        QString text;
        int line = 0;
    };
    using Error = std::function<void(int line, const QString& reason)>;

    static QString Name() { return QStringLiteral("HTTP"); }
    static bool IsNamed(const QString& sectionName);
    static const QStringList& Keys();
    // The key in the spelling of Keys(), matched without regard to case.
    static std::optional<QString> KnownKey(const QString& key);

    // values by the spelling of Keys(); relative paths are taken from base.
    // Every fault goes to error; nullopt when there was one.
    static std::optional<HttpConfig> Read(int sectionLine, const QHash<QString, Value>& values,
                                          const QString& base, const Error& error);

    // "64M", "512K", "1G", "1000": bytes; nullopt for no positive number.
    static std::optional<qint64> ParseSize(const QString& text);
    // "127.0.0.1:8470", "[::1]:0"; false when it is no address and port.
    static bool ParseListen(const QString& text, QHostAddress* address, quint16* port);
};

} // namespace tapeway
