// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FileReport.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace tapeway {

// The programs queued for a machine: the plain files of a folder, in name
// order. A file joins the queue once it has not changed for a moment, so
// that one still being copied in is not sent half; names starting with '.'
// are never taken (copy tools write under such names first), nor symbolic
// links (one could reach any file the service may read). A hidden .order
// names files to send first (the office view's order); names of files no
// longer in the folder are taken out of it. A file that was
// sent moves to sent/ with a time-stamp prefix, if it is still the file
// that was sent; one that failed three times, or cannot be sent at all,
// moves to failed/. The office may put some files first: the hidden file
// .order in the folder names them, one a line, in the order they go; the
// rest follow in name order.
class Outbox
{
public:
    static constexpr int kSettleMs = 2000;
    static constexpr int kMaxFailures = 3;
    static constexpr const char* kOrderFile = ".order";
    static constexpr int kMaxOrderBytes = 1 << 20; // a longer .order is read that far

    explicit Outbox(const QString& dir) : m_dir(dir) {}

    QString Dir() const { return m_dir; }
    // The files ready to send: those .order names first, in its order, then
    // the rest in name order.
    QStringList Queue(const QDateTime& now = QDateTime::currentDateTime());
    // Writes .order (names of files in the folder; one that is not queued,
    // or leaves the queue later, is passed over): to a hidden temporary
    // name, then renamed over it, so that a reader never sees half of it;
    // synced to disk first unless sync is false (the queue's own pruning,
    // on the lines' loop, where a lost write only keeps a stale name).
    bool SetOrder(const QStringList& names, QString* error, bool sync = true);
    // The names .order holds, as written (empty when there is none).
    QStringList Order() const;
    // The links the queue passed over that it had not named before.
    QStringList TakeNewLinks();

    // After "Complete": sent/STAMP-NAME. Only the file that was sent moves
    // (same identity and digest); when path names another file or other
    // bytes now, nothing moves, *changed is set and the file stays queued.
    // The new path, or empty with *error.
    QString MarkSent(const QString& path, const FileIdentity& sent, const QByteArray& sha256,
                     bool* changed, QString* error);
    // A failed transfer of path. True when it was the last allowed failure
    // and the file moved to failed/ (*movedTo; empty when even that failed,
    // and the file is then left out of the queue until the service restarts).
    bool MarkFailed(const QString& path, QString* movedTo);
    // A file that cannot be sent (empty, unreadable, too long): failed/ at once.
    QString Reject(const QString& path);
    // The failures of the file now at path: a file put in its place (the
    // office's new version) starts again at 0.
    int Failures(const QString& path) const;

private:
    QString MoveInto(const QString& path, const QString& folder, QString* error);

    QString m_dir;
    // Failures and refusals belong to the file, not its name: a file put in
    // its place is queued and tried afresh.
    struct Failed
    {
        int count = 0;
        FileIdentity identity;
    };
    QHash<QString, Failed> m_failures;
    QHash<QString, FileIdentity> m_refused; // files failed/ would not take
    QSet<QString> m_links;                  // links in the folder, named once each
    QStringList m_newLinks;
};

} // namespace tapeway
