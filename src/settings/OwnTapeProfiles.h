// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeProfileFile.h"

#include <QByteArray>
#include <QString>

namespace tapeway {

// The operator's own tape profiles: a file of TapeProfileFile's format
// (SettingsStore::TapeProfilesFilePath() unless another is given) read over
// the presets. Saving one profile rewrites only its own section: the file's
// other sections, its comments and rows that do not read are kept as they
// are, and the file is replaced as a whole, never left half-written.
class OwnTapeProfiles
{
public:
    // The file beside RS232.ini, looked up at each access.
    OwnTapeProfiles() = default;
    explicit OwnTapeProfiles(const QString& filePath);

    QString FilePath() const;

    // The presets with the file's profiles over them; a missing file adds
    // nothing, a file that cannot be read is reported as a problem.
    TapeProfileFile::Result Profiles() const;

    // Stores the profile in place of every section of its name (case
    // ignored), after the other sections. False, and the file as it was,
    // when it could not be stored; problem then says why, in both languages
    // (the system's own words as the system gives them).
    bool Save(const TapeProfile& profile, TapeProfileProblem* problem = nullptr) const;

    // The text with the profile's section put in place of every section of
    // its name (case ignored): written at the end, the rest kept byte for byte.
    static QByteArray WithSection(const QByteArray& text, const TapeProfile& profile);

private:
    QString m_filePath;
};

} // namespace tapeway
