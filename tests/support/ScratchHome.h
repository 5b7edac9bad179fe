// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTemporaryDir>

// The data and settings folders of the tests and of every program they
// start point into a scratch directory of this run: no test writes to the
// user's own journal or recovered data, or reads the user's RS232.ini.
struct ScratchHome
{
    QTemporaryDir dir;

    ScratchHome()
    {
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
        qunsetenv("TAPEWAY_JOURNAL");
    }
};
