// SPDX-License-Identifier: GPL-3.0-or-later
// The tape protocol's sends: each feeds from a private snapshot of its file,
// made when it starts, so that a file saved over during a feed of hours
// never mixes two versions on the wire.
#include "transfer/SessionHost.h"
#include "transfer/SessionMessages.h"
#include "transfer/StartChecks.h"
#include "transfer/TapeLine.h"
#include "transfer/TransferSession.h"

#include <QElapsedTimer>

namespace tapeway {

using namespace messages;

namespace {

constexpr qint64 kShowPreparationAfterMs = 1000;

} // namespace

void TransferSession::PrepareFeed(int row)
{
    Q_UNUSED(row);
    DropFeed();
    FeedRequest request;
    request.path = m_sendPath;
    request.followLinks = m_host.SendsThroughLinks();
    request.snapshotFolder = m_host.FeedFolder();
    if (request.snapshotFolder.isEmpty())
        request.snapshotFolder = FeedSnapshot::DefaultFolder();
    request.code = m_tape->code;
    m_feedRestart = m_host.FeedRestartFor(m_sendPath);
    request.restart = m_feedRestart;
    // A child of the session: one let go with deleteLater still goes with it.
    m_feedSnapshot = std::make_unique<FeedSnapshot>(this);
    connect(m_feedSnapshot.get(), &FeedSnapshot::Ready, this, &TransferSession::FeedReady);
    connect(m_feedSnapshot.get(), &FeedSnapshot::Failed, this, &TransferSession::FeedFailed);
    QElapsedTimer began;
    began.start();
    connect(m_feedSnapshot.get(), &FeedSnapshot::Progress, this,
            [this, began](qint64 done, qint64 total) {
                // A program of gigabytes takes a while to copy: the bar shows it,
                // once it has taken long enough to be worth showing.
                if (began.elapsed() < kShowPreparationAfterMs)
                    return;
                SetProgressTotal(total);
                m_host.SetProgressPos(int(done >> m_progressShift));
            });
    // Active while it is prepared: Cancel ends it, a request waits for it.
    m_active = true;
    m_preparing = true;
    m_feedSnapshot->Start(request);
}

void TransferSession::FeedReady(const FeedSnapshotResult& feed)
{
    m_preparing = false;
    const int row = CurrentRow();
    const qint64 offset = feed.restart ? feed.restart->offset : 0;
    SetProgressTotal((feed.restart ? feed.lead.size() : 0) + feed.bytes - offset);
    if (!OpenSendLine(row)) {
        DropFeed();
        return;
    }
    m_dataBaud = m_baud;
    m_fileRead = true;
    m_progressShown = false;
    const QByteArray request = std::exchange(m_pendingRequest, {});
    const std::optional<qint64> block = m_feedRestart && m_feedRestart->by == FeedRestart::By::Block
                                            ? std::optional<qint64>(m_feedRestart->number)
                                            : std::nullopt;
    QString reason;
    if (!m_tapeSend.BeginFeed(feed, block, m_baud, request, &reason))
        WireFailed({FileReport::kFileError, kCannotReadWholeZh, kCannotReadWholeEn, reason});
}

void TransferSession::FeedFailed(const FeedProblem& problem)
{
    m_preparing = false;
    m_active = false;
    const int row = CurrentRow();
    const QString reason = problem.Message(HostLanguage(m_host));
    // The row's text says what became of the file: a file that cannot be
    // sent as it is (missing, unreadable, refused for its content) is passed
    // over, and a service moves it out of its queue; a snapshot that could
    // not be made is the PC's trouble, and the batch stops at the file.
    int rowZh = kRowRefusedZh, rowEn = kRowRefusedEn;
    int zh = kSendErrorZh, en = kSendErrorEn;
    const char* outcome = FileReport::kFileError;
    QString detail = reason;
    bool tell = false;
    switch (problem.kind) {
    case FeedProblem::Kind::Missing:
        rowZh = zh = kNoSuchFileZh;
        rowEn = en = kNoSuchFileEn;
        detail.clear();
        break;
    case FeedProblem::Kind::NotRegular:
        rowZh = zh = kCannotOpenZh;
        rowEn = en = kCannotOpenEn;
        detail = m_host.LocalText(kNotRegularZh, kNotRegularEn).arg(m_sendPath);
        break;
    case FeedProblem::Kind::CannotOpen:
        rowZh = zh = kCannotOpenZh;
        rowEn = en = kCannotOpenEn;
        break;
    case FeedProblem::Kind::Empty:
        rowZh = zh = kNoDataZh;
        rowEn = en = kNoDataEn;
        outcome = FileReport::kNoData;
        detail.clear();
        break;
    case FeedProblem::Kind::ReadFailed:
    case FeedProblem::Kind::Changed:
        rowZh = zh = kCannotReadWholeZh;
        rowEn = en = kCannotReadWholeEn;
        break;
    case FeedProblem::Kind::RefusedCharacter:
        detail = m_host.LocalText(kRefusedCharacterZh, kRefusedCharacterEn)
                     .arg(QString::number(problem.at.line), QString::number(problem.at.column),
                          problem.character, CodeName(m_tape->code));
        tell = true;
        break;
    case FeedProblem::Kind::Restart:
        detail = m_host.LocalText(kFeedNotPreparedZh, kFeedNotPreparedEn).arg(reason);
        tell = true;
        break;
    case FeedProblem::Kind::NoRoom:
    case FeedProblem::Kind::FolderUnwritable:
    case FeedProblem::Kind::WriteFailed:
        detail = m_host.LocalText(kFeedNotPreparedZh, kFeedNotPreparedEn).arg(reason);
        m_host.SetRowState(row, m_host.LocalText(kRowFailedZh, kRowFailedEn));
        ReportFile(outcome, zh, en, nullptr, detail);
        DropFeed();
        m_source.reset();
        m_rowCursor = row; // the next Start begins with it
        m_host.ShowMessage(zh, en, detail);
        EnableControls(true);
        return;
    }
    m_host.SetRowState(row, m_host.LocalText(rowZh, rowEn));
    ReportFile(outcome, zh, en, nullptr, detail);
    if (tell)
        m_host.ShowMessage(zh, en, detail);
    DropFeed();
    m_source.reset();
    StartNextSend();
}

void TransferSession::DropFeed()
{
    m_preparing = false;
    m_pendingRequest.clear();
    if (!m_feedSnapshot)
        return;
    m_feedSnapshot->disconnect(this);
    m_feedSnapshot->Remove();
    // It may be the one whose signal is being served.
    m_feedSnapshot.release()->deleteLater();
}

void TransferSession::WireFeedStatus(const FeedStatus& status)
{
    m_host.ShowFeedStatus(status);
}

} // namespace tapeway
