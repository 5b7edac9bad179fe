// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/JournalKeeper.h"

#include "journal/SqlJournal.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace tapeway {

namespace {

QString About(const JournalLocation& location, const QString& reason)
{
    return QStringLiteral("journal %1: %2").arg(location.Display(), reason);
}

} // namespace

JournalKeeper::JournalKeeper(const std::optional<JournalLocation>& configured,
                             const QString& configError)
    : m_configured(configured), m_configError(configError)
{
    if (m_configured && !m_configured->IsOff())
        m_target = std::make_unique<SqlJournal>(*m_configured);
}

JournalKeeper::~JournalKeeper() = default;

QString JournalKeeper::ConfiguredText() const
{
    return m_configured ? m_configured->Display() : m_configError;
}

SqlJournal& JournalKeeper::Local()
{
    if (TargetIsLocal())
        return *m_target;
    if (!m_local) {
        m_local = std::make_unique<SqlJournal>(JournalLocation::LocalDefault());
        if (m_localBusyMs > 0)
            m_local->SetTimeouts(m_localBusyMs, SqlJournal::kStatementTimeoutMs);
    }
    return *m_local;
}

SqlJournal& JournalKeeper::TargetReader()
{
    if (TargetIsLocal())
        return LocalReader();
    if (!m_targetReader)
        m_targetReader = std::make_unique<SqlJournal>(*m_configured, SqlJournal::Access::ReadOnly);
    return *m_targetReader;
}

SqlJournal& JournalKeeper::LocalReader()
{
    if (!m_localReader)
        m_localReader = std::make_unique<SqlJournal>(JournalLocation::LocalDefault(),
                                                     SqlJournal::Access::ReadOnly);
    return *m_localReader;
}

void JournalKeeper::SetLocalBusyTimeoutMs(int ms)
{
    m_localBusyMs = ms;
    if (m_local)
        m_local->SetTimeouts(ms, SqlJournal::kStatementTimeoutMs);
    if (m_target && TargetIsLocal())
        m_target->SetTimeouts(ms, SqlJournal::kStatementTimeoutMs);
}

bool JournalKeeper::LocalExists() const
{
    return QFileInfo::exists(JournalLocation::DefaultSqlitePath());
}

JournalKeeper::Written JournalKeeper::Record(const TransferRecord& record)
{
    if (IsOff())
        return {Written::Off, {}};
    QString reason = m_configError;
    if (m_target) {
        if (!m_failedAt.isValid() || m_failedAt.hasExpired(kRetryAfterMs)) {
            QString error;
            if (m_target->Record(record, &error)) {
                m_failedAt.invalidate();
                return {Written::Kept, {}};
            }
            m_lastFailure = About(m_target->Location(), error);
            m_failedAt.start();
        }
        reason = m_lastFailure;
        if (TargetIsLocal())
            return {Written::Lost, reason};
    }
    return KeepLocally(record, reason);
}

JournalKeeper::Written JournalKeeper::KeepLocally(const TransferRecord& record,
                                                  const QString& reason)
{
    if (IsOff())
        return {Written::Off, {}};
    QString error;
    if (TargetIsLocal()) {
        if (m_target->Record(record, &error))
            return {Written::Kept, {}};
        return {Written::Lost, About(m_target->Location(), error)};
    }
    // The record remembers its journal (never its password): a sync with
    // another journal leaves it waiting for its own.
    TransferRecord pending = record;
    pending.pending = true;
    pending.journal = m_configured ? m_configured->Key() : QString();
    if (Local().Record(pending, &error))
        return {Written::FellBack, reason};
    return {Written::Lost, reason + QStringLiteral("; ") + About(Local().Location(), error)};
}

JournalKeeper::Listing JournalKeeper::Find(const JournalQuery& query)
{
    Listing listing;
    if (!m_configured) {
        listing.error = m_configError;
        return listing;
    }
    if (IsOff()) {
        listing.error = QStringLiteral("the journal is off");
        return listing;
    }
    QString error;
    SqlJournal& target = TargetReader();
    listing.records = target.Find(query, &error);
    if (TargetIsLocal()) {
        if (!listing.records)
            listing.error = About(target.Location(), error);
        return listing;
    }
    if (!listing.records) {
        listing.note = About(target.Location(), error);
        QString localError;
        if (LocalExists())
            listing.records = LocalReader().Find(query, &localError);
        else
            listing.records = QList<TransferRecord>();
        if (!listing.records)
            listing.error =
                listing.note + QStringLiteral("; ") + About(LocalReader().Location(), localError);
        return listing;
    }
    if (!LocalExists())
        return listing;
    // Records waiting for the configured journal belong in its listing.
    JournalQuery pendingQuery = query;
    pendingQuery.pendingOnly = true;
    pendingQuery.pendingFor = m_configured->Key();
    QString localError;
    const std::optional<QList<TransferRecord>> pending =
        LocalReader().Find(pendingQuery, &localError);
    if (!pending) {
        listing.note = About(LocalReader().Location(), localError);
        return listing;
    }
    QSet<QString> ids;
    for (const TransferRecord& record : *listing.records)
        ids.insert(record.id);
    for (const TransferRecord& record : *pending)
        if (!ids.contains(record.id))
            listing.records->append(record);
    TransferRecord::SortNewestFirst(*listing.records);
    if (query.limit > 0 && listing.records->size() > query.limit)
        listing.records->resize(query.limit);
    return listing;
}

std::optional<int> JournalKeeper::Sync(QString* error)
{
    if (!m_configured || IsOff()) {
        *error = m_configured ? QStringLiteral("the journal is off: there is nowhere to copy to")
                              : m_configError;
        return std::nullopt;
    }
    if (TargetIsLocal() || !LocalExists())
        return 0;
    // Only records waiting for this journal, or for none named (an older
    // program's), are copied: the others wait for their own.
    JournalQuery query;
    query.pendingOnly = true;
    query.pendingFor = m_configured->Key();
    QString reason;
    std::optional<QList<TransferRecord>> pending = Local().Find(query, &reason);
    if (!pending) {
        *error = About(Local().Location(), reason);
        return std::nullopt;
    }
    // Oldest first, so that an interrupted copy leaves the newest waiting.
    std::reverse(pending->begin(), pending->end());
    int copied = 0;
    for (TransferRecord record : *pending) {
        record.pending = false;
        record.journal.clear();
        // A record copied before (its marking lost) is not doubled: ids are unique.
        const bool copiedNow = m_target->Record(record, &reason);
        if (!copiedNow || !Local().MarkSynced({record.id}, &reason)) {
            *error = About(copiedNow ? Local().Location() : m_target->Location(), reason);
            if (copied > 0)
                *error += QStringLiteral(" (%1 copied before)").arg(copied);
            return std::nullopt;
        }
        ++copied;
    }
    return copied;
}

} // namespace tapeway
