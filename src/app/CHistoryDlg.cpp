// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CHistoryDlg.h"

#include "journal/JournalThread.h"
#include "journal/RecordFormat.h"
#include "resources/StringTable.h"
#include "ui/PromptSeam.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace tapeway;

namespace {

// The filter looks at this text of a row's first cell: path and outcome.
constexpr int kSearchRole = Qt::UserRole + 1;
// Where a row's record is in the list read.
constexpr int kRecordRole = Qt::UserRole + 2;

constexpr const char* kTitles[2][CHistoryDlg::kColumnCount] = {
    {"时间", "方向", "结果", "文件路径", "字节数", "波特率", "端口号", "计算机", "用户", "SHA-256"},
    {"Time", "Direction", "Outcome", "Path", "Bytes", "Baud", "Port", "Computer", "User",
     "SHA-256"}};

// Hex digits of a digest the table shows; the whole one is its tooltip.
constexpr int kShownDigest = 16;

struct Words
{
    const char* key;
    const char* chinese;
    const char* english;
};

constexpr Words kOutcomes[] = {
    {"sent", "已发送", "Sent"},
    {"received", "已接收", "Received"},
    {"not_saved", "未能保存", "Not saved"},
    {"data_error", "数据错误", "Data error"},
    {"link_broken", "通信中断", "Link broken"},
    {"cancelled", "已取消", "Cancelled"},
    {"port_error", "端口错误", "Port error"},
    {"file_error", "文件错误", "File error"},
    {"no_data", "文件无内容", "No data"},
};

constexpr Words kCaptions[] = {
    {"filter", "筛选(&F)：", "&Filter:"},
    {"filterName", "按路径或结果筛选", "Filter by path or outcome"},
    {"placeholder", "路径或结果", "Path or outcome"},
    {"export", "导出 CSV(&E)…", "&Export CSV..."},
    {"close", "关闭", "Close"},
    {"table", "传输记录", "Transfer records"},
    {"send", "发送", "Send"},
    {"receive", "接收", "Receive"},
    {"csv", "CSV 文件", "CSV file"},
};

QString Pick(const Words* words, size_t count, const QString& key, int language, bool* found)
{
    for (size_t i = 0; i < count; ++i) {
        if (key == QLatin1String(words[i].key)) {
            *found = true;
            return QString::fromUtf8(language == kChinese ? words[i].chinese : words[i].english);
        }
    }
    *found = false;
    return key;
}

QString Caption(const char* key, int language)
{
    bool found = false;
    return Pick(kCaptions, std::size(kCaptions), QLatin1String(key), language, &found);
}

// A code this program does not know (from a newer one) shows as it is.
QString OutcomeText(const QString& code, int language)
{
    bool found = false;
    return Pick(kOutcomes, std::size(kOutcomes), code, language, &found);
}

QStandardItem* Cell(const QString& text)
{
    auto* item = new QStandardItem;
    QString shown = text;
    shown.replace(u'\n', QStringLiteral(" ⏎ "));
    item->setText(shown);
    if (shown != text)
        item->setToolTip(text);
    return item;
}

QStandardItem* Number(qint64 value)
{
    auto* item = new QStandardItem;
    item->setData(value, Qt::DisplayRole);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

CHistoryDlg::CHistoryDlg(JournalThread& journal, QWidget* parent)
    : QDialog(parent, Qt::Window), m_journal(journal)
{
    m_model = new QStandardItemModel(0, kColumnCount, this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setFilterRole(kSearchRole);
    m_proxy->setFilterKeyColumn(kEnded);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);

    m_table = new QTableView(this);
    m_table->setModel(m_proxy);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 8);
    // Newest first, as read; a click on a header sorts by that column.
    m_table->horizontalHeader()->setSortIndicator(kEnded, Qt::DescendingOrder);
    m_table->setSortingEnabled(true);

    m_filterLabel = new QLabel(this);
    m_filter = new QLineEdit(this);
    m_filter->setClearButtonEnabled(true);
    m_filterLabel->setBuddy(m_filter);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_export = new QPushButton(this);
    m_close = new QPushButton(this);
    m_export->setAutoDefault(false);
    m_close->setAutoDefault(false);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(m_filterLabel);
    filterRow->addWidget(m_filter, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_export);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(1000, 440);

    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_proxy->setFilterFixedString(text);
        ShowStatus();
    });
    connect(m_export, &QPushButton::clicked, this, &CHistoryDlg::OnExport);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_journal, &JournalThread::Found, this, &CHistoryDlg::OnFound);
    connect(&m_journal, &JournalThread::Recorded, this, [this] {
        if (IsLoading())
            m_reloadDue = true;
        else if (isVisible())
            Reload();
    });
    SetLanguage(kChinese);
}

QString CHistoryDlg::Text(int chineseId, int englishId) const
{
    return LocalText(m_language, chineseId, englishId);
}

void CHistoryDlg::SetLanguage(int language)
{
    m_language = language == kChinese ? kChinese : kEnglish;
    setWindowTitle(Text(210, 211));
    m_filterLabel->setText(Caption("filter", m_language));
    m_filter->setPlaceholderText(Caption("placeholder", m_language));
    m_filter->setAccessibleName(Caption("filterName", m_language));
    m_table->setAccessibleName(Caption("table", m_language));
    m_export->setText(Caption("export", m_language));
    m_export->setAccessibleName(m_export->text().remove(u'&'));
    m_close->setText(Caption("close", m_language));
    m_close->setAccessibleName(m_close->text());
    QStringList titles;
    for (const char* title : kTitles[m_language])
        titles << QString::fromUtf8(title);
    m_model->setHorizontalHeaderLabels(titles);
    // Directions and outcomes are words of the language.
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const TransferRecord& r =
            m_records.at(m_model->item(row, kEnded)->data(kRecordRole).toInt());
        m_model->item(row, kDirection)
            ->setText(Caption(r.receive ? "receive" : "send", m_language));
        m_model->item(row, kOutcome)->setText(OutcomeText(r.outcome, m_language));
    }
    FitColumns();
    ShowStatus();
}

void CHistoryDlg::FitColumns()
{
    m_table->resizeColumnsToContents();
    QHeaderView* header = m_table->horizontalHeader();
    const int spare = m_table->viewport()->width() - header->length();
    if (spare > 0)
        header->resizeSection(kPath, header->sectionSize(kPath) + spare);
}

void CHistoryDlg::Reload()
{
    JournalQuery query;
    query.limit = kMaxRows;
    m_reloadDue = false;
    m_request = m_journal.Find(query);
    ShowStatus();
}

void CHistoryDlg::OnFound(int request, const QList<TransferRecord>& records, const QString& error,
                          const QString& note)
{
    if (request != m_request)
        return;
    m_request = 0;
    m_records = records;
    m_error = error;
    m_note = note;
    m_model->removeRows(0, m_model->rowCount());
    for (int i = 0; i < m_records.size(); ++i) {
        const TransferRecord& r = m_records.at(i);
        QList<QStandardItem*> row(kColumnCount);
        row[kEnded] = Cell(RecordFormat::LocalTime(r.ended));
        row[kDirection] = Cell(QString());
        row[kOutcome] = Cell(QString());
        row[kPath] = Cell(r.path);
        row[kBytes] = Number(r.bytes);
        row[kBaud] = Number(r.baud);
        row[kPort] = Cell(r.port);
        row[kSha256] =
            Cell(r.sha256.size() > kShownDigest ? r.sha256.left(kShownDigest) + QStringLiteral("…")
                                                : r.sha256);
        row[kSha256]->setToolTip(r.sha256);
        row[kHost] = Cell(r.host);
        row[kUser] = Cell(r.user);
        row[kEnded]->setData(i, kRecordRole);
        // Both languages' words, so that either finds the row.
        row[kEnded]->setData(QStringList{r.path, r.outcome, OutcomeText(r.outcome, kChinese),
                                         OutcomeText(r.outcome, kEnglish)}
                                 .join(u'\n'),
                             kSearchRole);
        m_model->appendRow(row);
    }
    SetLanguage(m_language);
    if (m_reloadDue)
        Reload();
}

void CHistoryDlg::ShowStatus()
{
    QString text;
    if (IsLoading() && m_records.isEmpty())
        text = Text(216, 217);
    else if (!m_error.isEmpty())
        text = Text(218, 219).arg(m_error);
    else
        text = Text(222, 223).arg(m_records.size()).arg(m_proxy->rowCount());
    if (!m_note.isEmpty() && m_error.isEmpty())
        text += u'\n' + m_note;
    m_status->setText(text);
}

void CHistoryDlg::OnExport()
{
    PromptSeam::FileRequest request;
    request.filter = Caption("csv", m_language) + QStringLiteral("|*.csv||");
    request.defaultSuffix = QStringLiteral("csv");
    const QString path = PromptSeam::SaveFile(this, request);
    if (path.isEmpty())
        return;
    // The rows as shown: filtered and in the table's order.
    QList<TransferRecord> shown;
    for (int row = 0; row < m_proxy->rowCount(); ++row) {
        const QModelIndex index = m_proxy->mapToSource(m_proxy->index(row, kEnded));
        shown << m_records.at(m_model->itemFromIndex(index)->data(kRecordRole).toInt());
    }
    // A byte order mark tells spreadsheets the text is UTF-8 (Chinese paths).
    const QByteArray bytes = "\xEF\xBB\xBF" + RecordFormat::Csv(shown).toUtf8();
    QSaveFile file(path);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!written)
        PromptSeam::ShowMessage(this, Text(220, 221).arg(path, file.errorString()));
}
