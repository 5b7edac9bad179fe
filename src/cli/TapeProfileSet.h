// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeProfile.h"

#include <QList>
#include <QStringList>

namespace tapeway {

// The tape profiles a command chooses from: the presets with the operator's
// own profile file read over them, and what could not be read in that file.
class TapeProfileSet
{
public:
    // The own file in the program's settings folder, beside RS232.ini.
    static QString DefaultPath();
    // Reads the own file at path (empty: DefaultPath()).
    // A file that is not there holds no profiles, unless it was required
    // (named on the command line).
    static TapeProfileSet Load(const QString& path, bool required);

    const QList<TapeProfile>& Profiles() const { return m_profiles; }
    QStringList Names() const;
    bool IsOwn(const QString& name) const;
    bool IsPreset(const QString& name) const;
    const QString& Path() const { return m_path; }
    bool FileExists() const { return m_exists; }

    // Why the own file could not be read, in the language; empty when it
    // could be (or is not there and need not be).
    QString ReadError(int language) const;
    // Every section of the own file left out, "PATH, line N: reason".
    QStringList ProblemLines(int language) const;
    // The problem of the section that names this profile, empty when none.
    QString ProblemOf(const QString& name, int language) const;

private:
    QList<TapeProfile> m_profiles;
    QStringList m_presetNames;
    QStringList m_ownNames;
    QList<TapeProfileProblem> m_problems;
    QString m_path;
    QString m_readError; // the system's reason
    bool m_exists = false;
};

} // namespace tapeway
