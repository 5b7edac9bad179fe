// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/TapeOptions.h"

#include "cli/CliText.h"
#include "cli/TapeProfileSet.h"
#include "resources/StringTable.h"
#include "transfer/TapeProfileFile.h"

namespace tapeway {

namespace {

// An option that sets one key of the profile file.
struct Setting
{
    const char* option;
    const char* key;
    const char* valueName;
    const char* help;
};

constexpr Setting kSettings[] = {
    {"frame", "Frame", "FRAME",
     "Tape: the character frame, data bits, parity N/E/O and stop bits, e.g. 7E2."},
    {"handshake", "Handshake", "xonxoff|rtscts|none", "Tape: the flow control."},
    {"code", "Code", "iso|eia", "Tape: the code the program travels in."},
    {"eob", "Eob", "lf|crlf|cr", "Tape: the end of block on the wire."},
    {"start-on", "StartOn", "now|xon",
     "Tape send: start at once, or when the controller sends XON."},
    {"leader", "Leader", "N", "Tape send: N NULs before the program."},
    {"trailer", "Trailer", "N", "Tape send: N NULs after it."},
    {"end", "End", "percent|idle",
     "Tape receive: the program ends with its closing %, or when the line is idle."},
    {"idle", "Idle", "SECONDS",
     "Tape receive: the silence, once data came, that ends the program (--end idle) or breaks "
     "it off."},
    {"saved-eol", "SavedEol", "lf|crlf", "Tape receive: the line end of the saved file."},
};

constexpr const char* kProtocol = "protocol";
constexpr const char* kProfile = "profile";
constexpr const char* kProfilesFile = "profiles-file";
constexpr const char* kDcCodes = "dc-codes";

QString Option(const char* name)
{
    return QLatin1String(name);
}

QString Dashed(const char* name)
{
    return QStringLiteral("--") + QLatin1String(name);
}

} // namespace

const char* const TapeOptions::kDefaultProfile = "Plain 8N1";

void TapeOptions::AddTo(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(
        Option(kProtocol),
        QStringLiteral("The wire protocol: packet (default; the controller asks for each file "
                       "and confirms it) or tape (plain ASCII text, as a tape reader and punch "
                       "would, with the settings of a tape profile)."),
        QStringLiteral("packet|tape"), QStringLiteral("packet")));
    parser.addOption(QCommandLineOption(
        Option(kProfile),
        QStringLiteral("Tape: the profile to speak, a preset or one of the operator's own "
                       "(tapeway-cli profiles lists them); default \"%1\".")
            .arg(QLatin1String(kDefaultProfile)),
        QStringLiteral("NAME")));
    parser.addOption(QCommandLineOption(
        Option(kProfilesFile),
        QStringLiteral("Tape: the operator's own profiles from FILE instead of tape-profiles.ini "
                       "in the settings folder."),
        QStringLiteral("FILE")));
    for (const Setting& s : kSettings)
        parser.addOption(QCommandLineOption(Option(s.option), QLatin1String(s.help),
                                            QLatin1String(s.valueName)));
    parser.addOption(QCommandLineOption(
        Option(kDcCodes),
        QStringLiteral("Tape send: DC2 before the program and DC4 after it, a punch's on and "
                       "off.")));
}

TapeOptions::Choice TapeOptions::Choose(const QCommandLineParser& parser,
                                        const std::optional<QString>& baud, int language)
{
    Choice choice;
    const QString protocol = parser.value(Option(kProtocol)).trimmed().toLower();
    if (protocol != QLatin1String("packet") && protocol != QLatin1String("tape")) {
        choice.reason = CliText(language, CliMessage::UnknownProtocol).arg(protocol);
        return choice;
    }
    if (protocol == QLatin1String("packet")) {
        QStringList tapeOnly{Option(kProfile), Option(kProfilesFile), Option(kDcCodes)};
        for (const Setting& s : kSettings)
            tapeOnly << Option(s.option);
        for (const QString& name : tapeOnly)
            if (parser.isSet(name)) {
                choice.reason =
                    CliText(language, CliMessage::TapeOnlyOption).arg(QStringLiteral("--") + name);
                return choice;
            }
        choice.ok = true;
        return choice;
    }

    const bool ownFileNamed = parser.isSet(Option(kProfilesFile));
    const TapeProfileSet set =
        TapeProfileSet::Load(parser.value(Option(kProfilesFile)), ownFileNamed);
    if (const QString error = set.ReadError(language); !error.isEmpty()) {
        choice.reason = error;
        return choice;
    }
    const QString name = parser.isSet(Option(kProfile)) ? parser.value(Option(kProfile)).trimmed()
                                                        : QLatin1String(kDefaultProfile);
    // A section of the own file that names the profile but could not be
    // read is not silently replaced by the preset of that name.
    if (const QString problem = set.ProblemOf(name, language); !problem.isEmpty()) {
        choice.reason = problem;
        return choice;
    }
    std::optional<TapeProfile> profile = TapeProfileFile::Find(set.Profiles(), name);
    if (!profile) {
        choice.reason = CliText(language, CliMessage::UnknownProfile)
                            .arg(name, set.Names().join(QStringLiteral(", ")));
        return choice;
    }
    auto apply = [&](const QString& option, const char* key, const QString& value) {
        TapeProfileProblem problem;
        if (TapeProfileFile::SetValue(*profile, QLatin1String(key), value, &problem))
            return true;
        choice.reason = QStringLiteral("%1: %2").arg(
            option, language == kChinese ? problem.reasonZh : problem.reasonEn);
        return false;
    };
    if (baud && !apply(QStringLiteral("--baud"), "Baud", *baud))
        return choice;
    for (const Setting& s : kSettings)
        if (parser.isSet(Option(s.option)) &&
            !apply(Dashed(s.option), s.key, parser.value(Option(s.option))))
            return choice;
    if (parser.isSet(Option(kDcCodes)) && !apply(Dashed(kDcCodes), "DcCodes", QStringLiteral("on")))
        return choice;
    if (const std::optional<TapeProfileProblem> problem = profile->Validate()) {
        choice.reason = CliText(language, CliMessage::ProfileUnusable)
                            .arg(profile->name, problem->Message(language));
        return choice;
    }
    // The rest of the own file still deserves the operator's attention.
    choice.notes = set.ProblemLines(language);
    choice.tape = profile;
    choice.ok = true;
    return choice;
}

} // namespace tapeway
