// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FileReport.h"

#include <QByteArray>
#include <QString>

struct stat;

namespace tapeway {

// The local file of one send. Looked at when the send starts (it exists, is
// a regular file, has a length a header can announce), it is opened and
// read only when the receiver asks for it, so that what leaves the line is
// what the file holds then. Without followLinks a path whose last part is a
// symbolic link counts as not a regular file, however it is reached:
// only files that are really where the path says are read.
class SendSource
{
public:
    enum class Problem
    {
        None,
        Missing,    // no such file (any more)
        NotRegular, // a folder, a device, a FIFO, or a link without followLinks
        CannotOpen, // the system refused: Detail() says why
        Empty,
        TooLong,  // more than a header can announce
        ShortRead // the file could not be read to its end: Detail() says why
    };

    SendSource(const QString& path, bool followLinks);

    // The early look, without opening the file: its length now in *length.
    Problem Look(qint64* length) const;
    // Opens the file as it is now and reads it whole.
    Problem Read();

    const QString& Path() const { return m_path; }
    const QByteArray& Data() const { return m_data; }
    // The file that Read read: its identity after the read, with the length read.
    const FileIdentity& Identity() const { return m_identity; }
    // The system's reason of the last problem, with the path.
    const QString& Detail() const { return m_detail; }

    // The identity of what path names now, without following a final link
    // (a link is known as itself); unknown when there is nothing.
    static FileIdentity Identify(const QString& path);
    // The SHA-256 of the regular file at path (a link is not followed);
    // empty when it cannot be read.
    static QByteArray Sha256Of(const QString& path);
    // The identity a file's status gives.
    static FileIdentity IdentityOf(const struct stat& info);

    // Opens the file for reading as Read does (only a regular file, links
    // per followLinks): its descriptor, the caller's to close, or -1 with the
    // problem (Detail() says why the system refused).
    int OpenRegular(Problem* problem);

private:
    QString m_path;
    bool m_followLinks;
    QByteArray m_data;
    FileIdentity m_identity;
    QString m_detail;
};

} // namespace tapeway
