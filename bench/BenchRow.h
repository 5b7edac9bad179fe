// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// One line of the benchmark table: what was measured, the figure, the goal
// and whether the figure meets it.
struct BenchRow
{
    QString what;
    QString value;
    QString target;
    bool met;
};
