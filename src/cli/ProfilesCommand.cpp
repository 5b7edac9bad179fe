// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ProfilesCommand.h"

#include "cli/CliText.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/TapeProfileSet.h"
#include "transfer/TapeProfileFile.h"

namespace tapeway {

int ProfilesCommand::Run(const QStringList& args)
{
    CommandLine line(QStringLiteral("profiles"),
                     QStringLiteral("Lists the tape profiles that send and receive --protocol tape "
                                    "may name: the presets, then the operator's own from "
                                    "tape-profiles.ini in the settings folder (an own profile of "
                                    "a preset's name takes its place). Each is written as the "
                                    "section of a profile file that makes it."));
    const QCommandLineOption file(QStringLiteral("profiles-file"),
                                  QStringLiteral("The operator's own profiles from FILE instead."),
                                  QStringLiteral("FILE"));
    line.Parser().addOption(file);
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;
    const int language = line.Language();
    const TapeProfileSet set =
        TapeProfileSet::Load(line.Parser().value(file), line.Parser().isSet(file));

    QString out = CliText(language, set.FileExists() || !set.ReadError(language).isEmpty()
                                        ? CliMessage::OwnFileHeader
                                        : CliMessage::OwnFileMissing)
                      .arg(set.Path()) +
                  u'\n';
    for (const TapeProfile& profile : set.Profiles()) {
        const QString mark =
            !set.IsOwn(profile.name)
                ? CliText(language, CliMessage::PresetMark)
                : CliText(language, set.IsPreset(profile.name) ? CliMessage::OwnReplacesMark
                                                               : CliMessage::OwnMark)
                      .arg(set.Path());
        out += u'\n' + mark + u'\n' + QString::fromUtf8(TapeProfileFile::Write({profile}));
    }
    Console::Out(out.trimmed());

    QStringList problems = set.ProblemLines(language);
    if (const QString error = set.ReadError(language); !error.isEmpty())
        problems.prepend(error);
    for (const QString& problem : problems)
        Console::Err(problem);
    return problems.isEmpty() ? kExitDone : kExitUsage;
}

} // namespace tapeway
