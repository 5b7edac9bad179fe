// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeCode.h"

#include <QString>
#include <optional>

namespace tapeway {

// What went wrong with one setting of a profile: the key it is stored under
// (as in the profile file and the service's configuration) and why, in both
// languages.
struct TapeProfileProblem
{
    QString profile; // the profile's name, empty when unnamed
    QString key;     // "Baud", "Frame", ...
    QString reasonEn;
    QString reasonZh;
    int line = 0; // line of the profile file, 0 when not read from one

    // "Baud: ..." in the language (0 Chinese, otherwise English).
    QString Message(int language) const;
};

// One controller family's settings for the tape protocol: a plain value.
struct TapeProfile
{
    enum class Parity
    {
        None,
        Even,
        Odd
    };
    enum class Handshake
    {
        XonXoff,
        RtsCts,
        None
    };
    enum class EndOfBlock
    {
        Lf,
        CrLf,
        Cr
    };
    enum class StartOn
    {
        Now,
        Xon
    };
    enum class EndRule
    {
        Percent,
        Idle
    };
    enum class SavedLineEnd
    {
        Lf,
        CrLf
    };

    static constexpr int kMaxNuls = 10000;
    static constexpr int kMaxIdleSeconds = 3600;

    QString name = QStringLiteral("Default");
    int baud = 9600;
    int dataBits = 7;
    Parity parity = Parity::Even;
    int stopBits = 2;
    TapeCodeKind code = TapeCodeKind::Iso;
    Handshake handshake = Handshake::XonXoff;
    EndOfBlock endOfBlock = EndOfBlock::Lf;
    StartOn startOn = StartOn::Now;
    int leader = 0;  // NULs before the program
    int trailer = 0; // NULs after it
    bool dcCodes = false;
    EndRule endRule = EndRule::Percent;
    int idleSeconds = 10;
    SavedLineEnd savedLineEnd = SavedLineEnd::Lf;
    bool tvCheck = false;
    QString source; // where the settings come from (a manual, or the operator)

    // The first setting that cannot work, nothing when all can.
    std::optional<TapeProfileProblem> Validate() const;

    // The frame as "7E2": data bits, parity N/E/O, stop bits.
    QString FrameText() const;
    // Reads "7E2" (case ignored) into the three frame fields; false, and
    // nothing changed, when the text is no frame.
    bool SetFrame(const QString& text);

    // Bits on the wire per character: start bit, data, parity, stop bits.
    int BitsPerCharacter() const;

    // The end of block as it goes on the wire (EIA: its own code).
    QByteArray WireEndOfBlock() const;
    QByteArray SavedLineEndBytes() const;

    // The speeds a profile may name.
    static bool IsStandardBaud(int baud);

    bool operator==(const TapeProfile&) const = default;
};

} // namespace tapeway
