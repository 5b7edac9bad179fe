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
    if (!m_local)
        m_local = std::make_unique<SqlJournal>(JournalLocation::LocalDefault());
    return *m_local;
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
    TransferRecord pending = record;
    pending.pending = true;
    QString error;
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
    listing.records = m_target->Find(query, &error);
    if (TargetIsLocal()) {
        if (!listing.records)
            listing.error = About(m_target->Location(), error);
        return listing;
    }
    if (!listing.records) {
        listing.note = About(m_target->Location(), error);
        QString localError;
        if (LocalExists())
            listing.records = Local().Find(query, &localError);
        else
            listing.records = QList<TransferRecord>();
        if (!listing.records)
            listing.error =
                listing.note + QStringLiteral("; ") + About(Local().Location(), localError);
        return listing;
    }
    if (!LocalExists())
        return listing;
    // Records waiting for the configured journal belong in its listing.
    JournalQuery pendingQuery = query;
    pendingQuery.pendingOnly = true;
    QString localError;
    const std::optional<QList<TransferRecord>> pending = Local().Find(pendingQuery, &localError);
    if (!pending) {
        listing.note = About(Local().Location(), localError);
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
    JournalQuery query;
    query.pendingOnly = true;
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
