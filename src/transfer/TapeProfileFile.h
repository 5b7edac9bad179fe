// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeProfile.h"

#include <QByteArray>
#include <QList>

namespace tapeway {

// Profiles as text: one "[Name]" section per profile, "Key=Value" lines in
// it (keys and words without regard to case, ';' or '#' start a comment
// line, a value in matching quotes comes back without them):
//
//   [Fanuc ISO]
//   Baud=4800        Frame=7E2        Handshake=xonxoff|rtscts|none
//   Code=iso|eia     Eob=lf|crlf|cr   StartOn=now|xon
//   Leader=N         Trailer=N        DcCodes=on|off
//   End=percent|idle Idle=SECONDS     SavedEol=lf|crlf
//   TvCheck=on|off   Source=TEXT
//
// A section that names a profile already known (a preset) starts from it
// and changes only the keys it gives; any other starts from TapeProfile's
// defaults. The service's configuration uses the same keys.
class TapeProfileFile
{
public:
    struct Result
    {
        QList<TapeProfile> profiles; // the sections that read and validated
        QList<TapeProfileProblem> problems;
    };

    // Reads profiles from text (UTF-8). A section with an unknown key, a
    // value that cannot be read or a setting that does not validate is
    // left out and reported with its line.
    static Result Read(const QByteArray& text, const QList<TapeProfile>& known = {});
    static QByteArray Write(const QList<TapeProfile>& profiles);

    // Reads one key's value into a profile: false and a problem (in both
    // languages) when the key is unknown or the value cannot be read.
    static bool SetValue(TapeProfile& profile, const QString& key, const QString& value,
                         TapeProfileProblem* problem = nullptr);

    // The presets shipped with the program.
    static QList<TapeProfile> Presets();

    // The presets with an operator's own profile file read over them: a
    // profile of the same name (case ignored) replaces the preset, others
    // are added after the presets.
    static Result WithOwnProfiles(const QByteArray& ownText);

    // The profile of that name (case ignored), nothing when there is none.
    static std::optional<TapeProfile> Find(const QList<TapeProfile>& profiles, const QString& name);
};

} // namespace tapeway
