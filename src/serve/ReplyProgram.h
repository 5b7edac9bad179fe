// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/Library.h"
#include "transfer/TapeCode.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tapeway {

// The short programs the service answers a request with, so that the
// operator reads at the panel what happened: % / O9998 (NOT FOUND O1234) / %.
// Comment text keeps to printable ASCII without parentheses or '%' (other
// characters become '?'); for an EIA line it is in capitals, and characters
// the code cannot carry become spaces.
class ReplyProgram
{
public:
    static constexpr int kMostListed = 200;

    // One comment on the program number's line.
    static QByteArray Build(const QString& number, const QString& comment,
                            std::optional<TapeCodeKind> code = std::nullopt);
    // A comment block per program, "(NAME O1234)", after "(LIBRARY n)"; at
    // most kMostListed, then "(AND n MORE)".
    static QByteArray List(const QString& number, const QList<Library::Entry>& entries,
                           std::optional<TapeCodeKind> code = std::nullopt);

private:
    static QByteArray Program(const QString& number, const QStringList& comments,
                              std::optional<TapeCodeKind> code);
};

} // namespace tapeway
