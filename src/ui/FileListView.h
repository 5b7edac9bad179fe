// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTreeWidget>

// The list of files to send: one row per file with a check box (column 0), a
// state text (column 1) and the full path (column 2). Rows are numbered from 0.
class FileListView : public QTreeWidget
{
    Q_OBJECT
public:
    static constexpr int kCheckColumn = 0;
    static constexpr int kStateColumn = 1;
    static constexpr int kPathColumn = 2;

    explicit FileListView(QWidget* parent = nullptr);

    void RemoveAllRows();
    // Inserts row i, ticked, with the path in column 2.
    void AppendRow(int i, const QString& path);
    bool IsRowChecked(int i) const;
    QString GetRowPath(int i) const;
    void SetRowState(int i, const QString& text);
    QString GetRowState(int i) const;
    void EnsureRowVisible(int i);
    int RowCount() const;

    // Empties the state text of every row.
    void ClearStateColumn();
    // The path of the next ticked row at or after cursor; the cursor moves
    // past it. An empty path and cursor -1 when no ticked row is left. A new
    // batch (cursor 0) starts with empty state texts.
    QString NextCheckedFile(int& cursor);
    // Sets the three column headings, keeping the widths.
    void SetColumnTitles(const QStringList& titles);
};
