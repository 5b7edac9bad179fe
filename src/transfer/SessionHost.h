// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/LinkSettings.h"
#include "transfer/FeedSnapshotCopy.h"
#include "transfer/FeedStatus.h"
#include "transfer/FileReport.h"
#include "transfer/TapeProfile.h"

#include <QString>
#include <optional>

namespace tapeway {

// What a transfer session needs from whoever drives it: the operator's
// choices, the operator dialogue, the controls, the progress display and the
// list of files to send. The dialog implements it; so does the command line.
class SessionHost
{
public:
    virtual ~SessionHost() = default;

    // The operator's choices, read when a transfer starts.
    virtual bool IsReceiveMode() const = 0;
    virtual bool IsContinuousChecked() const = 0;
    virtual QString BaudText() const = 0;
    virtual LinkSettings Link() const = 0;
    // The tape profile when the line speaks the tape protocol, nothing for
    // the packet protocol. Its speed, frame and flow control are the line's
    // (Link() then gives the port only), and its speed serves both
    // directions: BaudText is not read.
    virtual std::optional<TapeProfile> TapeLine() const { return std::nullopt; }
    virtual QString ReceiveTargetText() const = 0;
    virtual void SetReceiveTargetText(const QString& path) = 0;
    virtual void RememberPath(const QString& path) = 0;

    // The text of a string pair in the current language.
    virtual QString LocalText(int chineseId, int englishId) const = 0;
    // A plain message (OK only). detail carries the system's own words where
    // there are some (why a port could not be opened); a dialog may omit it.
    virtual void ShowMessage(int chineseId, int englishId, const QString& detail = {}) = 0;
    // "The file has already existed. Whether replace the file?" Yes → true.
    virtual bool AskOverwrite(const QString& path) = 0;

    // Controls locked while a session runs (false) and unlocked after (true).
    virtual void EnableControls(bool enable) = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    virtual void SetProgressPos(int pos) = 0;
    // A receive whose length is not known beforehand (the tape protocol):
    // what has arrived so far. The progress range is then 0 to 0.
    virtual void ShowArrived(qint64 lines, qint64 bytes)
    {
        Q_UNUSED(lines);
        Q_UNUSED(bytes);
    }
    // The speed a controller announced, shown in place of the baud box.
    virtual void ShowAnnouncedBaud(int baud) = 0;

    // The file list of a send batch. NextCheckedFile hands out the path of the
    // next ticked row at or after rowCursor and moves the cursor past it; it
    // returns an empty path and sets the cursor to -1 when none is left.
    virtual QString NextCheckedFile(int& rowCursor) = 0;
    virtual void ClearStateColumn() = 0;
    virtual void SetRowState(int row, const QString& text) = 0;
    virtual void EnsureRowVisible(int row) = 0;
    virtual void RepaintList() = 0;
    // Whether a file of the list that is a symbolic link is sent as the file
    // it points to (an operator's choice), or refused as not a regular file
    // (a folder that others fill, where a link could reach any file).
    virtual bool SendsThroughLinks() const { return true; }
    // A tape send of path: where its feed starts when the operator asked
    // for a restart within it (a block number or a line, and perhaps a
    // preamble of the operator's), nothing to feed it from the top.
    virtual std::optional<FeedRestart> FeedRestartFor(const QString& path) const
    {
        Q_UNUSED(path);
        return std::nullopt;
    }
    // The folder for the private snapshots tape sends feed from (removed
    // when the file ends); empty for FeedSnapshot::DefaultFolder().
    virtual QString FeedFolder() const { return {}; }
    // A tape send: the block and line going out and the controller's XON or
    // XOFF, about every second and when the controller holds or frees the
    // line (FeedStatusText puts it in words).
    virtual void ShowFeedStatus(const FeedStatus& status) { Q_UNUSED(status); }

    // Outcomes, for callers that keep score. A receive ends with the string
    // pair of its outcome (134/135 saved, 165/164 not saved, 136/137 data
    // error, 156/157 link broken, 200/201 a speed the line cannot take, 144/145
    // and 148/149 not started).
    virtual void ReceiveEnded(const QString& target, int chineseId, int englishId)
    {
        Q_UNUSED(target);
        Q_UNUSED(chineseId);
        Q_UNUSED(englishId);
    }
    // A send batch found no further ticked row.
    virtual void BatchEnded() {}
    // A file ended (complete, failed or cancelled): once per file, after the
    // line has been served, so a host may keep it without delaying a byte.
    virtual void FileFinished(const FileReport& report) { Q_UNUSED(report); }

    // A receive that still waits for the header heard the controller ask
    // for a file (DC2). True when the host has one to send instead: the
    // receive ends as Cancel ends it, and a send of NextCheckedFile answers
    // the request. A host that answers true must make IsReceiveMode true
    // again for the next Start, so that the session goes back to waiting.
    virtual bool AnswerRequestWithSend() { return false; }
};

} // namespace tapeway
