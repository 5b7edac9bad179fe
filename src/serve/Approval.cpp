// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/Approval.h"

#include "serve/FileMove.h"
#include "serve/InboxPlacement.h"
#include "serve/LineDiff.h"
#include "transfer/SystemPath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace tapeway {

namespace {

bool ReadWhole(const QString& path, QByteArray* data, QString* error)
{
    QFile file;
    QString why;
    if (!OpenPath(file, path, QIODevice::ReadOnly, &why)) {
        *error = QStringLiteral("cannot read %1: %2").arg(DisplayPath(path), why);
        return false;
    }
    *data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(DisplayPath(path), file.errorString());
        return false;
    }
    return true;
}

QByteArray Sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

} // namespace

Approval::Approval(const LineConfig& line) : m_line(line) {}

bool Approval::IsPlainName(const QString& name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') &&
           !name.contains(u'\\') && !name.contains(QStringLiteral("..")) &&
           !name.contains(QChar(0));
}

QString Approval::PendingFolder() const
{
    return InboxPlacement::Folder(m_line.inbox, InboxPlacement::kPending);
}

QStringList Approval::Pending() const
{
    QStringList names;
    for (const QString& name : ListFolder(PendingFolder())) {
        const PathStatus status = StatPath(QDir(PendingFolder()).filePath(name));
        if (IsPlainName(name) && status.isFile && !status.isLink)
            names << name;
    }
    names.sort();
    return names;
}

Approval::Result Approval::Look(const QString& name, QByteArray* data, QByteArray* library) const
{
    Result result;
    if (!IsPlainName(name)) {
        result.refusal = Refusal::BadName;
        return result;
    }
    result.pending = QDir(PendingFolder()).filePath(name);
    if (!m_line.library.isEmpty())
        result.libraryPath = QDir(m_line.library).filePath(name);
    const PathStatus pending = StatPath(result.pending);
    if (!pending.exists && !pending.isLink) {
        result.refusal = Refusal::NotPending;
        return result;
    }
    // A link put in pending/ would carry any file into the library.
    if (!pending.isFile || pending.isLink) {
        result.refusal = Refusal::NotRegular;
        result.detail = DisplayPath(result.pending);
        return result;
    }
    if (!ReadWhole(result.pending, data, &result.detail)) {
        result.refusal = Refusal::System;
        return result;
    }
    result.bytes = data->size();
    result.sha256 = Sha256(*data);
    if (result.libraryPath.isEmpty())
        return result;
    const PathStatus held = StatPath(result.libraryPath);
    if (!held.exists && !held.isLink)
        return result;
    if (!held.isFile || held.isLink) {
        result.refusal = Refusal::NotRegular;
        result.detail = DisplayPath(result.libraryPath);
        return result;
    }
    if (!ReadWhole(result.libraryPath, library, &result.detail)) {
        result.refusal = Refusal::System;
        return result;
    }
    result.librarySha256 = Sha256(*library);
    return result;
}

Approval::Result Approval::Approve(const QString& name, bool replace) const
{
    if (IsPlainName(name) && m_line.library.isEmpty()) {
        Result result;
        result.refusal = Refusal::NoLibrary;
        return result;
    }
    QByteArray data, library;
    Result result = Look(name, &data, &library);
    if (!result.Ok())
        return result;
    if (!result.librarySha256.isEmpty() && !replace) {
        result.refusal = Refusal::InLibrary;
        return result;
    }
    // Without replace a version that appears meanwhile stays as it is.
    result.path = MoveFile(result.pending, m_line.library, name,
                           replace ? OnTaken::Replace : OnTaken::Refuse, &result.detail);
    if (result.path.isEmpty())
        result.refusal = Refusal::System;
    return result;
}

Approval::Result Approval::Reject(const QString& name) const
{
    QByteArray data, library;
    Result result = Look(name, &data, &library);
    if (!result.Ok())
        return result;
    const QString rejected = InboxPlacement::Folder(m_line.inbox, InboxPlacement::kRejected);
    if (InboxPlacement::MakeFolder(m_line.inbox, InboxPlacement::kRejected, &result.detail))
        result.path =
            MoveFile(result.pending, rejected, name, OnTaken::NextFreeName, &result.detail);
    if (result.path.isEmpty())
        result.refusal = Refusal::System;
    return result;
}

Approval::Result Approval::Diff(const QString& name) const
{
    QByteArray data, library;
    Result result = Look(name, &data, &library);
    if (!result.Ok())
        return result;
    const bool held = !result.librarySha256.isEmpty();
    result.sameBytes = held && data == library;
    result.diff = UnifiedDiff(library, data,
                              held ? DisplayPath(result.libraryPath) : QStringLiteral("/dev/null"),
                              DisplayPath(result.pending));
    return result;
}

} // namespace tapeway
