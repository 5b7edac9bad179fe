// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace tapeway {

// Which file a path named when it was read: its device and inode, and its
// length and modification time then. Two identities are equal only when
// all four are; an unknown identity (size -1) equals none.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0; // since the epoch

    bool IsKnown() const { return size >= 0; }
    bool operator==(const FileIdentity& other) const
    {
        return IsKnown() && other.IsKnown() && device == other.device && inode == other.inode &&
               size == other.size && modifiedNs == other.modifiedNs;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// What a session knows about one file when it ends: reported once per file,
// whether it completed, failed or was cancelled. Hosts add who and where
// (port, host, user, line) before keeping it anywhere.
struct FileReport
{
    // Stable outcome codes, for records and queries.
    static constexpr const char* kSent = "sent";
    static constexpr const char* kReceived = "received";
    static constexpr const char* kNotSaved = "not_saved"; // verified data could not be saved
    static constexpr const char* kDataError =
        "data_error"; // a check failed or the header was refused
    static constexpr const char* kLinkBroken = "link_broken"; // silence or a broken line
    static constexpr const char* kCancelled = "cancelled";
    static constexpr const char* kPortError = "port_error"; // the line could not be opened or set
    static constexpr const char* kFileError =
        "file_error";                                 // the local file could not be opened or read
    static constexpr const char* kNoData = "no_data"; // an empty file: nothing to send

    bool receive = false;
    QString path;      // absolute path of the local file
    int baud = 0;      // speed of the data phase (0 when it never began)
    qint64 bytes = 0;  // data bytes moved
    QByteArray sha256; // digest of exactly those bytes; empty when nothing was verified
    // A send: the file that was read for it, as it was when read (unknown
    // when it was never read). Only that file counts as sent.
    FileIdentity identity;
    QString outcome;   // one of the codes above
    int chineseId = 0; // the message pair shown for the outcome
    int englishId = 0;
    QString detail;    // the system's reason, where there is one
    QString recovered; // where verified data that could not be saved was kept
    // The line's protocol ("packet" or "tape") and, for the tape protocol,
    // the profile's name.
    QString protocol = QStringLiteral("packet");
    QString profile;
    // A tape send that restarted within the file: the line it began at
    // (from 1; 0 when it began at the top) and, when the operator named a
    // block, that block's number. Bytes and digest are then those fed:
    // '%', the preamble and the file from that line on.
    qint64 startLine = 0;
    std::optional<qint64> startBlock;
    QDateTime started; // UTC
    QDateTime ended;   // UTC
};

} // namespace tapeway
