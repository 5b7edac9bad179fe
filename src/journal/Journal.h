// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/TransferRecord.h"

#include <QList>
#include <QStringList>
#include <optional>

namespace tapeway {

// A store of transfer records. One object belongs to one thread.
class Journal
{
public:
    virtual ~Journal() = default;

    // Keeps the record; one whose id is there already is left as it was, so
    // a copy made twice is kept once. False with the reason when it was not kept.
    virtual bool Record(const TransferRecord& record, QString* error) = 0;
    // The records the query asks for, newest first; nullopt with the reason
    // when the journal cannot be read.
    virtual std::optional<QList<TransferRecord>> Find(const JournalQuery& query,
                                                      QString* error) = 0;
    // The records no longer wait to be copied elsewhere.
    virtual bool MarkSynced(const QStringList& ids, QString* error) = 0;
};

} // namespace tapeway
