// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/JournalLocation.h"
#include "journal/TransferRecord.h"

#include <QElapsedTimer>
#include <memory>
#include <optional>

namespace tapeway {

class SqlJournal;

// The configured journal and the local one that stands in for it. A record
// the configured journal cannot take goes to the local journal marked as
// pending; Sync copies pending records to the configured journal later, each
// once. Listings add the local pending records to the configured journal's,
// so that nothing written is missing from a listing. One object belongs to
// one thread.
class JournalKeeper
{
public:
    // After a failure the configured journal is tried again only after this
    // long: a server that does not answer costs its timeout once, not per file.
    static constexpr int kRetryAfterMs = 60000;

    struct Written
    {
        enum Kind
        {
            Kept,     // in the configured journal
            Off,      // the journal is off: nothing kept
            FellBack, // in the local journal, pending
            Lost      // kept nowhere
        };
        Kind kind = Kept;
        QString reason; // why the configured journal (and the local one) failed
    };

    struct Listing
    {
        std::optional<QList<TransferRecord>> records; // nullopt: error says why
        QString error;
        QString note; // the configured journal failed and the local one answered
    };

    // configured: nullopt when the configured text was wrong; configError says how.
    explicit JournalKeeper(const std::optional<JournalLocation>& configured,
                           const QString& configError = QString());
    ~JournalKeeper();

    // The configured journal as text (without password), or the configuration error.
    QString ConfiguredText() const;
    bool IsOff() const { return m_configured && m_configured->IsOff(); }

    Written Record(const TransferRecord& record);
    // The record straight to the local journal, pending for the configured
    // one (or, when that is the local journal, kept there), without trying
    // the configured journal; reason says why.
    Written KeepLocally(const TransferRecord& record, const QString& reason);
    // How long the local journal waits for another program's write.
    void SetLocalBusyTimeoutMs(int ms);
    // Reads open the journals read only: a journal this user may only read,
    // or that another program is writing, is listed all the same.
    Listing Find(const JournalQuery& query);
    // Copies the local pending records to the configured journal; the number
    // copied, or nullopt with the reason (after copying what could be copied).
    std::optional<int> Sync(QString* error);

private:
    SqlJournal& Local();
    SqlJournal& TargetReader();
    SqlJournal& LocalReader();
    bool LocalExists() const;
    bool TargetIsLocal() const { return m_configured && m_configured->IsLocalDefault(); }

    std::optional<JournalLocation> m_configured;
    QString m_configError;
    std::unique_ptr<SqlJournal> m_target;
    std::unique_ptr<SqlJournal> m_local;
    std::unique_ptr<SqlJournal> m_targetReader;
    std::unique_ptr<SqlJournal> m_localReader;
    int m_localBusyMs = 0; // 0: SqlJournal's own
    QElapsedTimer m_failedAt;
    QString m_lastFailure;
};

} // namespace tapeway
