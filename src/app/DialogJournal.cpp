// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DialogJournal.h"

#include "app/CHistoryDlg.h"
#include "journal/JournalThread.h"
#include "resources/StringTable.h"
#include "settings/SettingsStore.h"
#include "transfer/FileReport.h"
#include "ui/PromptSeam.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

using namespace tapeway;

namespace {

// How often a notice looks again whether the operator has closed a message.
constexpr int kNoticeRetryMs = 250;

} // namespace

DialogJournal::DialogJournal(const SettingsStore& settings, QWidget* dialog)
    : QObject(dialog), m_dialog(dialog)
{
    QString error;
    const std::optional<JournalLocation> location =
        JournalLocation::Configured(QString(), settings, &error);
    m_journal = new JournalThread(location, error, this);
    connect(m_journal, &JournalThread::JournalFailed, this, &DialogJournal::OnJournalFailed);
}

DialogJournal::~DialogJournal()
{
    // The dialog is closing: a journal that does not answer now keeps the
    // last records locally at once (see JournalThread::Finish), and no notice
    // opens over a dialog that is going.
    disconnect(m_journal, nullptr, this, nullptr);
    m_journal->Finish();
}

void DialogJournal::Record(const FileReport& report, const QString& port)
{
    m_journal->Record(TransferRecord::FromReport(report, port));
}

CHistoryDlg* DialogJournal::History() const
{
    return m_history;
}

void DialogJournal::ShowHistory()
{
    if (!m_history) {
        m_history = new CHistoryDlg(*m_journal, m_dialog);
        m_history->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_history->SetLanguage(m_language);
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
    m_history->Reload();
}

void DialogJournal::SetLanguage(int language)
{
    m_language = language;
    if (m_history)
        m_history->SetLanguage(language);
}

void DialogJournal::OnJournalFailed(bool keptLocally, const QString& reason)
{
    m_keptLocally = keptLocally;
    m_reason = reason;
    ShowNoticeWhenFree();
}

void DialogJournal::ShowNoticeWhenFree()
{
    // The transfer's own message comes first: the notice waits until no
    // other message or question is open.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != m_dialog->window()) {
        QTimer::singleShot(kNoticeRetryMs, this, &DialogJournal::ShowNoticeWhenFree);
        return;
    }
    PromptSeam::ShowMessage(m_dialog, JournalFailureText(m_language, m_keptLocally, m_reason));
}
