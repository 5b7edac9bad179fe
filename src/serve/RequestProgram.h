// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tapeway {

// One thing a request program asks for, one comment block each.
struct RequestAsk
{
    enum class Kind
    {
        Send,    // (SEND O1234), (SEND BRACKET-2.NC), (SEND O12*)
        Dnc,     // (DNC O1234), (DNC O1234 N41200)
        List,    // (LIST)
        Unknown, // a comment that asks for nothing this service knows
    };

    Kind kind = Kind::Unknown;
    QString target;              // a program number, a file name or a pattern
    std::optional<qint64> block; // Dnc: the block the feed starts at
    QString text;                // the comment as written, without its parentheses

    bool operator==(const RequestAsk&) const = default;
};

// The program a machine punches to ask for programs: its number is the
// line's request number, and its comment blocks say what it wants, in order.
// A comment on the program number's own line that asks for nothing is the
// program's title and is passed over; one elsewhere is an Unknown ask, so
// that the operator hears it was not understood.
class RequestProgram
{
public:
    // "O9999" from "O9999", "o9999" or "9999"; nothing for anything else
    // (an empty text included).
    static std::optional<QString> ParseNumber(const QString& text);
    // Whether two program numbers name one program (O0012 is O12).
    static bool SameNumber(const QString& a, const QString& b);
    // Whether data is a request: its program number is requestNumber.
    static bool IsRequest(const QByteArray& data, const QString& requestNumber);
    static QList<RequestAsk> Asks(const QByteArray& data);
};

} // namespace tapeway
