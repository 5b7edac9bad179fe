// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tapeway {

// The operator's own preamble for a restarted feed: the setup lines (units,
// work offset, tool, spindle, coolant) that go out after the '%' and before
// the restart block. Read whole; it is a few lines, so a file past kMaxBytes
// is taken for the wrong file rather than held in memory.
struct PreambleFile
{
    static constexpr qint64 kMaxBytes = 1024 * 1024;

    std::optional<QByteArray> bytes; // nothing: refused, for the reason below
    QString reasonEn;
    QString reasonZh;

    // The reason in the language (0 Chinese, otherwise English).
    QString Message(int language) const { return language == 0 ? reasonZh : reasonEn; }

    // Reads path: refused when it is missing, no regular file, cannot be
    // read (the system's reason), past kMaxBytes, or holds nothing but
    // blanks (a restart without its setup lines would run the block in
    // whatever state the machine is in).
    static PreambleFile Read(const QString& path);
};

} // namespace tapeway
