// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/RequestProgram.h"
#include "serve/ServeConfig.h"
#include "transfer/FeedSnapshotCopy.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tapeway {

// What the machine of one line asked for from its panel and has not read
// yet. A received request program is taken here instead of the inbox; each
// of its asks becomes the library files it names (sent in place, never
// moved) or a reply program that tells the operator why not, written to a
// private file in the service's state and removed once it went. The line
// offers the queue's first file at the machine's next read, after the
// outbox; the queue lives as long as the line.
class LineRequests
{
public:
    // What taking a request did: one log line per ask, in the service's
    // language, and one line in English for the journal.
    struct Taken
    {
        QStringList events;
        QString note;
    };

    LineRequests(const LineConfig& config, int language);
    ~LineRequests();
    LineRequests(const LineRequests&) = delete;
    LineRequests& operator=(const LineRequests&) = delete;

    // Reply programs go to "replies" beside the folder of the line's feeds
    // (empty: FeedSnapshot's default folder).
    void SetFeedFolder(const QString& feedFolder);
    QString ReplyFolder() const { return m_replyFolder; }

    // A program received whole: when it is a request, its asks are queued.
    std::optional<Taken> Take(const QByteArray& data);
    int Size() const { return int(m_items.size()); }
    bool HasQueued() const { return !m_items.isEmpty(); }
    // The file for the machine's read, empty when none is queued. A file
    // handed out before and never reported done has ended without
    // going: it leaves the queue, so that no file blocks those behind it.
    QString Next();
    // A DNC ask from a block: where the feed of path starts.
    std::optional<FeedRestart> RestartFor(const QString& path) const;
    // The file handed out ended, however it ended: false when path is not
    // that file (an outbox file, say).
    bool Done(const QString& path);

private:
    struct Item
    {
        QString path;
        bool reply = false; // a private file of ours, removed once done
        std::optional<qint64> block;
    };

    void Ask(const RequestAsk& ask, Taken& taken);
    void QueueReply(const QByteArray& program, Taken& taken, bool first = false);
    void Drop();

    QString m_line;
    int m_language;
    QString m_requestNumber;
    QString m_replyNumber;
    QString m_library;
    bool m_tape = false;
    std::optional<TapeCodeKind> m_code;
    QString m_replyFolder;
    QList<Item> m_items;
    bool m_handed = false; // the first item was handed out for a read
};

} // namespace tapeway
