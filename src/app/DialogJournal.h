// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;
class CHistoryDlg;

namespace tapeway {
class JournalThread;
class SettingsStore;
struct FileReport;
} // namespace tapeway

// The dialog's side of the transfer journal: records every finished file
// (off the dialog's thread), tells the operator once when the journal
// cannot be written, after whatever message is open has been closed, and
// opens the History window.
class DialogJournal : public QObject
{
    Q_OBJECT
public:
    // The journal is the one TAPEWAY_JOURNAL or [JOURNAL] Location in the
    // dialog's settings chooses, else the local default.
    DialogJournal(const tapeway::SettingsStore& settings, QWidget* dialog);
    ~DialogJournal() override;

    void Record(const tapeway::FileReport& report, const QString& port);
    // Opens the History window, or brings it to the front.
    void ShowHistory();
    void SetLanguage(int language);

    tapeway::JournalThread& Journal() { return *m_journal; }
    // The History window while it is open; nullptr otherwise.
    CHistoryDlg* History() const;

private:
    void OnJournalFailed(bool keptLocally, const QString& reason);
    void ShowNoticeWhenFree();

    QWidget* m_dialog;
    tapeway::JournalThread* m_journal = nullptr;
    QPointer<CHistoryDlg> m_history;
    QString m_reason;
    bool m_keptLocally = false;
    int m_language = 0;
};
