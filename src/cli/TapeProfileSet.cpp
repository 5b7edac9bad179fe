// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/TapeProfileSet.h"

#include "cli/CliText.h"
#include "settings/SettingsStore.h"
#include "transfer/TapeProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tapeway {

namespace {

bool HasName(const QStringList& names, const QString& name)
{
    return names.contains(name.trimmed(), Qt::CaseInsensitive);
}

QString Problem(const QString& path, const TapeProfileProblem& problem, int language)
{
    return CliText(language, CliMessage::ProfilesFileProblem)
        .arg(path)
        .arg(problem.line)
        .arg(problem.Message(language));
}

} // namespace

QString TapeProfileSet::DefaultPath()
{
    return SettingsStore::TapeProfilesFilePath();
}

TapeProfileSet TapeProfileSet::Load(const QString& path, bool required)
{
    TapeProfileSet set;
    set.m_path = path.isEmpty() ? DefaultPath() : path;
    QByteArray text;
    set.m_exists = !set.m_path.isEmpty() && QFileInfo::exists(set.m_path);
    if (set.m_exists || required) {
        QFile file(set.m_path);
        if (file.open(QIODevice::ReadOnly))
            text = file.readAll();
        else
            set.m_readError = file.errorString();
    }
    const QList<TapeProfile> presets = TapeProfileFile::Presets();
    for (const TapeProfile& p : presets)
        set.m_presetNames << p.name;
    for (const TapeProfile& p : TapeProfileFile::Read(text, presets).profiles)
        set.m_ownNames << p.name;
    const TapeProfileFile::Result merged = TapeProfileFile::WithOwnProfiles(text);
    set.m_profiles = merged.profiles;
    set.m_problems = merged.problems;
    return set;
}

QStringList TapeProfileSet::Names() const
{
    QStringList names;
    for (const TapeProfile& p : m_profiles)
        names << p.name;
    return names;
}

bool TapeProfileSet::IsOwn(const QString& name) const
{
    return HasName(m_ownNames, name);
}

bool TapeProfileSet::IsPreset(const QString& name) const
{
    return HasName(m_presetNames, name);
}

QString TapeProfileSet::ReadError(int language) const
{
    if (m_readError.isEmpty())
        return {};
    return CliText(language, CliMessage::ProfilesFileUnread).arg(m_path, m_readError);
}

QStringList TapeProfileSet::ProblemLines(int language) const
{
    QStringList lines;
    for (const TapeProfileProblem& problem : m_problems)
        lines << Problem(m_path, problem, language);
    return lines;
}

QString TapeProfileSet::ProblemOf(const QString& name, int language) const
{
    for (const TapeProfileProblem& problem : m_problems)
        if (!problem.profile.isEmpty() &&
            problem.profile.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return Problem(m_path, problem, language);
    return {};
}

} // namespace tapeway
