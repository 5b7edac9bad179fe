#pragma once

#include "serve/ServeLine.h"

#include <QJsonObject>
#include <QString>

namespace tapeway {

// The service's status file: JSON, replaced in one rename at each write, so
// that a reader never sees half of it. One object per line with its port,
// mode, state, queue and last transfer.
class StatusFile
{
public:
    // Where the service keeps it: runtimeDir, else $RUNTIME_DIRECTORY (set by
    // systemd), else $XDG_RUNTIME_DIR/tapeway, else <temp>/tapeway-UID. The
    // name follows the configuration file: lines.ini → lines.status.json.
    static QString PathFor(const QString& configPath, const QString& runtimeDir);
    // Where `status` looks when no folder is given: the first existing of
    // the service's choice and the system service's /run/tapeway.
    static QString FindFor(const QString& configPath, const QString& runtimeDir);

    static QJsonObject LineObject(const LineConfig& config, const ServeLine::Status& status);
    static QString StateName(ServeLine::State state);

    // False with *error when the file cannot be written.
    static bool Write(const QString& path, const QJsonObject& status, QString* error);

    // The status as a table, one row per line, in the given language.
    static QString FormatTable(const QJsonObject& status, int language);
};

} // namespace tapeway
