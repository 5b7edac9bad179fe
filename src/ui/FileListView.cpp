// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FileListView.h"

#include <QHeaderView>

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(3);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    header()->setSectionsClickable(false);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setColumnWidth(kCheckColumn, 90);
    setColumnWidth(kStateColumn, 80);
    setColumnWidth(kPathColumn, 320);
}

void FileListView::RemoveAllRows()
{
    clear();
}

void FileListView::AppendRow(int i, const QString& path)
{
    auto* item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(kCheckColumn, Qt::Checked);
    item->setText(kPathColumn, path);
    insertTopLevelItem(qBound(0, i, topLevelItemCount()), item);
}

bool FileListView::IsRowChecked(int i) const
{
    const QTreeWidgetItem* item = topLevelItem(i);
    return item && item->checkState(kCheckColumn) == Qt::Checked;
}

QString FileListView::GetRowPath(int i) const
{
    const QTreeWidgetItem* item = topLevelItem(i);
    return item ? item->text(kPathColumn) : QString();
}

void FileListView::SetRowState(int i, const QString& text)
{
    if (QTreeWidgetItem* item = topLevelItem(i))
        item->setText(kStateColumn, text);
}

QString FileListView::GetRowState(int i) const
{
    const QTreeWidgetItem* item = topLevelItem(i);
    return item ? item->text(kStateColumn) : QString();
}

void FileListView::EnsureRowVisible(int i)
{
    if (QTreeWidgetItem* item = topLevelItem(i))
        scrollToItem(item, QAbstractItemView::EnsureVisible);
}

int FileListView::RowCount() const
{
    return topLevelItemCount();
}

void FileListView::ClearStateColumn()
{
    for (int i = 0; i < RowCount(); ++i)
        SetRowState(i, QString());
}

QString FileListView::NextCheckedFile(int& cursor)
{
    const int n = RowCount();
    if (cursor >= n) {
        cursor = -1;
        return {};
    }
    if (cursor == 0)
        ClearStateColumn();
    for (int i = qMax(cursor, 0); i < n; ++i) {
        if (IsRowChecked(i)) {
            cursor = i + 1;
            viewport()->update();
            return GetRowPath(i);
        }
    }
    cursor = -1;
    return {};
}

void FileListView::SetColumnTitles(const QStringList& titles)
{
    setHeaderLabels(titles);
}
