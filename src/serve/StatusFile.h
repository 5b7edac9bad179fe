// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/ServeLine.h"

#include <QJsonObject>
#include <QString>
#include <optional>

namespace tapeway {

// The service's status file: JSON, replaced in one rename at each write, so
// that a reader never sees half of it. One object per line with its port,
// mode, protocol (and a tape line's profile), state, queue and last transfer,
// and while a tape send runs its feed: block, line, bytes and flow control.
class StatusFile
{
public:
    // Where the service keeps it: runtimeDir, else $RUNTIME_DIRECTORY (set by
    // systemd), else $XDG_RUNTIME_DIR/tapeway, else <temp>/tapeway-UID. The
    // name follows the configuration file: lines.ini → lines.status.json.
    static QString PathFor(const QString& configPath, const QString& runtimeDir);
    // <temp>/tapeway-UID, the folder taken when no runtime folder is known.
    static QString FallbackFolder();
    // Makes the folder of the status file. The fallback folder lies in a
    // folder every user writes to, so it is made with mode 0700 and taken
    // only when it is a real folder (not a link), owned by this user, with
    // that mode: false with *error (in the language) otherwise, and the
    // service must not start. Another folder that cannot be made is told in
    // *error, with true: the writes fail then and say so.
    static bool PrepareFolder(const QString& statusPath, int language, QString* error);
    // Whether the status file's folder can be trusted as this user's own:
    // always, except for a fallback folder that fails the checks above.
    static bool TrustFolder(const QString& statusPath, int language, QString* error);
    // Where `status` looks when no folder is given: the first existing of
    // the service's choice and the system service's /run/tapeway.
    static QString FindFor(const QString& configPath, const QString& runtimeDir);

    static QJsonObject LineObject(const LineConfig& config, const ServeLine::Status& status);
    static QString StateName(ServeLine::State state);

    // False with *error when the file cannot be written. The new status goes
    // to a fresh name beside the old one, made without following links, and
    // is renamed over it.
    static bool Write(const QString& path, const QJsonObject& status, QString* error);

    // When the process pid started (field 22 of /proc/PID/stat, clock ticks
    // since boot); nothing when there is no such process or it cannot be told.
    static std::optional<qint64> ProcessStartTime(qint64 pid);
    // Whether the service that wrote the status still runs: it says so and
    // its process is alive with the start time it recorded (a pid may have
    // been given to another process since).
    static bool ServiceAlive(const QJsonObject& status);

    // The status as a table, one row per line, in the given language.
    static QString FormatTable(const QJsonObject& status, int language);
};

} // namespace tapeway
