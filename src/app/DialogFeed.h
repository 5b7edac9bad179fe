// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/CFeedStartDlg.h"
#include "transfer/FeedStatus.h"

#include <QString>
#include <optional>

// The dialog's restart of a tape feed. The operator's choice from the
// Start-at window waits for the next Start of a tape send; that Start arms
// it for its first ticked file (the preamble file is read then), and the
// session is handed it for that file only. Once handed out the choice is
// spent: when that file ends, or the session does. A Start that never
// reached the file (the port could not be opened, say) leaves it waiting.
class DialogFeed
{
public:
    const std::optional<FeedStartChoice>& Pending() const { return m_pending; }
    void SetPending(const std::optional<FeedStartChoice>& choice);
    bool IsArmed() const { return m_armed.has_value(); }

    // A tape send starts and its first ticked file is firstPath. False,
    // with the reason in the language (0 Chinese), when the preamble file
    // cannot be read: nothing is armed and the Start should not go on.
    bool Arm(const QString& firstPath, int language, QString* reason);
    // What the session is handed for path: the armed restart when path is
    // the file it was armed for.
    std::optional<tapeway::FeedRestart> RestartFor(const QString& path) const;
    // A file of the send ended.
    void FileEnded();
    // The session ended.
    void SessionEnded();

    // The waiting choice in words: "Next Start: from block N41200".
    QString PendingText(const tapeway::LocalTextFn& text, int language) const;

private:
    void Spend();

    std::optional<FeedStartChoice> m_pending;
    std::optional<tapeway::FeedRestart> m_armed;
    QString m_armedPath;
    mutable bool m_handedOut = false;
};
