// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tapeway {

// The pieces of a request's target the office view decides on. The path is
// split on its raw (percent-encoded) form and every segment decoded on its
// own, so "..%2F.." is one segment (and refused), never a way up.
class WebPath
{
public:
    static QStringList Segments(const QByteArray& encodedPath);
    // A line's, a folder's or a file's name: not empty, no '/', '\\' or NUL,
    // not "." or "..", not starting with '.'.
    static bool IsPlainSegment(const QString& segment);
    // Whether an Origin header names the origin of the request's Host
    // (scheme by tls, default ports filled in).
    static bool SameOrigin(const QByteArray& origin, const QByteArray& host, bool tls);
    // Whether a Host header names this machine by a loopback address or
    // "localhost": without users, a page of another site that renamed
    // itself to 127.0.0.1 (DNS rebinding) gets nothing.
    static bool LoopbackHost(const QByteArray& host);
    // The media type of an embedded asset by its name.
    static QByteArray AssetType(const QString& name);
    // Content-Disposition for a download: RFC 6266 / RFC 8187 filename*.
    static QByteArray Attachment(const QString& name);
};

} // namespace tapeway
