// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/TransferRecord.h"

#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace tapeway {
class JournalThread;
}

// The History window: the journal's records in a table, newest first, a
// filter over path and outcome, and Export CSV. The records are read on the
// journal's thread, so opening the window never holds up a transfer; the
// table follows every record written while it is open.
class CHistoryDlg : public QDialog
{
    Q_OBJECT
public:
    // The newest this many records are shown.
    static constexpr int kMaxRows = 10000;

    enum Column : int
    {
        kEnded,
        kDirection,
        kOutcome,
        kPath,
        kBytes,
        kBaud,
        kPort,
        kHost,
        kUser,
        kSha256,
        kColumnCount
    };

    CHistoryDlg(tapeway::JournalThread& journal, QWidget* parent = nullptr);

    void SetLanguage(int language);
    // Reads the records again.
    void Reload();

    QTableView* Table() const { return m_table; }
    QLineEdit* FilterBox() const { return m_filter; }
    QLabel* StatusLabel() const { return m_status; }
    QPushButton* ExportButton() const { return m_export; }
    bool IsLoading() const { return m_request != 0; }

private:
    void OnFound(int request, const QList<tapeway::TransferRecord>& records, const QString& error,
                 const QString& note);
    void OnExport();
    void ShowStatus();
    // Columns as wide as their contents; room to spare goes to the path.
    void FitColumns();
    QString Text(int chineseId, int englishId) const;

    tapeway::JournalThread& m_journal;
    QStandardItemModel* m_model = nullptr;
    QSortFilterProxyModel* m_proxy = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_filterLabel = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_close = nullptr;
    QList<tapeway::TransferRecord> m_records;
    QString m_error;
    QString m_note;
    int m_request = 0;        // the Find being answered; 0 when none
    bool m_reloadDue = false; // a record came while reading
    int m_language = 0;
};
