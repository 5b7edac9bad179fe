// SPDX-License-Identifier: GPL-3.0-or-later
// Where the dialog's tape send starts and where its feed stands: the
// Start-at window of the Protocol menu, the choice armed at Start for the
// first ticked file, and the feed's status (or the waiting choice) as the
// progress bar's caption and, while a feed runs, the window's title. The
// choice itself is DialogFeed's.
#include "app/CFeedStartDlg.h"
#include "app/CTransferDlg.h"
#include "app/DialogFeed.h"
#include "app/DialogProtocol.h"
#include "transfer/SessionMessages.h"
#include "transfer/TransferSession.h"
#include "ui/CPercentBar.h"
#include "ui/FileListView.h"

using namespace tapeway;

void CTransferDlg::OnFeedStartWindow()
{
    if (!m_protocol->Chosen() || IsReceiveMode())
        return;
    auto* window = new CFeedStartDlg(m_feed->Pending(), m_language, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &QDialog::accepted, this, [this, window] {
        m_feed->SetPending(window->Choice());
        ShowFeedCaption();
    });
    window->open();
}

bool CTransferDlg::ArmFeed()
{
    if (!m_protocol->Chosen() || IsReceiveMode() || !m_feed->Pending())
        return true;
    // The send begins with the first ticked row at the session's cursor
    // (a broken batch resumes at its row).
    QString first;
    FileListView* list = FileList();
    for (int row = qMax(0, m_session->RowCursor()); row < list->RowCount() && first.isEmpty();
         ++row)
        if (list->IsRowChecked(row))
            first = list->GetRowPath(row);
    QString reason;
    if (m_feed->Arm(first, m_language, &reason))
        return true;
    ShowMessage(messages::kFeedNotPreparedZh, messages::kFeedNotPreparedEn, reason);
    return false;
}

std::optional<FeedRestart> CTransferDlg::FeedRestartFor(const QString& path) const
{
    return m_feed->RestartFor(path);
}

void CTransferDlg::ShowFeedStatus(const FeedStatus& status)
{
    m_feedStatus = status;
    ShowFeedCaption();
}

void CTransferDlg::ShowFeedCaption()
{
    if (m_arrivedShown)
        return; // a tape receive's count has the bar
    const LocalTextFn text = [this](int zh, int en) { return LocalText(zh, en); };
    QString caption;
    if (m_feedStatus)
        caption = FeedStatusText(*m_feedStatus, text);
    else if (m_protocol->Chosen() && !IsReceiveMode() && !m_feed->IsArmed())
        caption = m_feed->PendingText(text, m_language);
    // The window's title carries the whole status while a feed runs; the bar
    // keeps both ends of a caption too long for it (the block and the XON or
    // XOFF), so the machine's hold is never cut off.
    setWindowTitle(m_feedStatus ? caption : QString());
    CPercentBar* bar = ProgressBar();
    const int room = bar->contentsRect().width() - 2 * bar->fontMetrics().averageCharWidth();
    bar->SetWindowText(bar->fontMetrics().elidedText(caption, Qt::ElideMiddle, qMax(room, 0)));
}

void CTransferDlg::OnSendingChanged()
{
    m_protocol->SetSending(!IsReceiveMode());
    ShowFeedCaption();
}
