// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeProfile.h"

#include <QCommandLineParser>
#include <QStringList>
#include <optional>

namespace tapeway {

// The options of send and receive that choose the wire protocol and, for
// the tape protocol, the profile and the settings changed from it. Every
// value goes through TapeProfileFile::SetValue under the key the profile
// file uses, so an option reads exactly as a line of that file.
class TapeOptions
{
public:
    // The preset a tape transfer speaks unless --profile names another.
    static const char* const kDefaultProfile;

    // Adds --protocol, --profile, --profiles-file and the settings' options.
    static void AddTo(QCommandLineParser& parser);

    struct Choice
    {
        bool ok = false;
        std::optional<TapeProfile> tape; // nothing: the packet protocol
        QString reason;                  // why not ok, in the language
        QStringList notes;               // what else is wrong in the own file
    };

    // Reads the options after a parse. baud is the text of --baud when it
    // was given (the option is shared with the packet protocol, which reads
    // it itself). With --protocol packet a tape option is refused.
    static Choice Choose(const QCommandLineParser& parser, const std::optional<QString>& baud,
                         int language);
};

} // namespace tapeway
