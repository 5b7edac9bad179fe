// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

class SettingsStore;

// The receive paths of the last ten receives, kept in section PATH of the
// settings file as a ring of ten slots, keys "0" to "9". Key "index" is the
// slot written last, key "value" the slot used last.
struct PathHistory
{
    // The paths for the path combo box: the newest first, then back through
    // the ring to the oldest; empty slots left out.
    QStringList entries;
    // The entry to select, -1 for none.
    int selected = -1;
};

// Reads the history for the path combo box (done once, at start-up).
PathHistory LoadPathHistory(const SettingsStore& store);

// Records that a receive into path starts. A path already in the history
// (compared as the file system compares names: letter case counts, except on
// Windows) only becomes the one used last. A new path goes into
// the slot after the newest one (slot 0 when the combo box, comboCount
// entries, is still empty) and becomes the newest and the one used last.
// Returns true when the path was new, i.e. when the caller appends it to
// its combo box. An empty path, or one longer than the settings file can give
// back whole, is not recorded (false).
bool RememberPath(SettingsStore& store, const QString& path, int comboCount);

} // namespace tapeway
