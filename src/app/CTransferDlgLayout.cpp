// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's face: where the controls lie, the menus, the captions in
// both languages and the two layouts of Send and Receive. The transfer side of
// the dialog, its settings and its closing are in CTransferDlg.cpp.
#include "app/CTransferDlg.h"
#include "app/DialogJournal.h"
#include "app/DialogProtocol.h"
#include "ui/CHoverButton.h"
#include "ui/CPercentBar.h"
#include "ui/DialogUnits.h"
#include "ui/FileListView.h"
#include "ui/LibraryTranslations.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int kDialogWidthDu = 308;
constexpr int kDialogHeightDu = 246;

struct Caption
{
    int id;
    const char* chinese;
    const char* english;
};

// The fixed captions of the window, in the order they are written.
constexpr Caption kCaptions[] = {
    {CTransferDlg::kBaudLabel, "波特率", "Baud rate"},
    {CTransferDlg::kLinkGroup, "通信设置", "Set communication"},
    {CTransferDlg::kDataBitsLabel, "数据位", "Data Bit"},
    {CTransferDlg::kParityLabel, "校  验", "Check"},
    {CTransferDlg::kPortLabel, "端口号", "Port number"},
    {CTransferDlg::kStopBitsLabel, "停止位", "Stop bit"},
    {CTransferDlg::kTypeGroup, "通信类型", "Type"},
    {CTransferDlg::kSendRadio, "发   送", "Send"},
    {CTransferDlg::kReceiveRadio, "接   收", "Receive"},
    {CTransferDlg::kStart, "开始", "Start"},
    {CTransferDlg::kExit, "退出", "Exit"},
    {CTransferDlg::kCancel, "取消", "Cancel"},
};

constexpr const char* kColumnTitles[2][3] = {{"选择", "状态", "文件路径"},
                                             {"Selecting", "State", "Path"}};

// The program's name, which the window's title leaves out.
const QString kProgramName = QStringLiteral("TAPEWAY");

struct AccessibleText
{
    int id;
    const char* name[2];        // Chinese, English
    const char* description[2]; // nullptr: none
};

// What a screen reader says for the controls, Chinese and English: a name for
// every control without a visible text, the captions without their padding
// blanks, and a description where the name alone does not say what the
// control is for.
constexpr AccessibleText kAccessibleTexts[] = {
    {CTransferDlg::kPathBox,
     {"接收文件", "Receive file"},
     {"接收到的程序存入这个文件", "The received program is saved in this file"}},
    {CTransferDlg::kBrowse,
     {"浏览", "Browse"},
     {"选择要发送的文件，或接收的目标文件",
      "Choose the files to send, or the file to receive into"}},
    {CTransferDlg::kFileList,
     {"文件列表", "File list"},
     {"勾选的文件依次发送", "The ticked files are sent one after another"}},
    {CTransferDlg::kPortBox,
     {"端口号", "Port number"},
     {"串口，也可以键入设备名称", "The serial port; a device name may be typed in"}},
    {CTransferDlg::kBaudBox,
     {"波特率", "Baud rate"},
     {"发送的速度；接收时用控制器通知的速度",
      "The speed of a send; a receive uses the speed the controller announces"}},
    {CTransferDlg::kDataBitsBox, {"数据位", "Data Bit"}, {nullptr, nullptr}},
    {CTransferDlg::kParityBox, {"校验", "Check"}, {"奇偶校验", "Parity"}},
    {CTransferDlg::kStopBitsBox, {"停止位", "Stop bit"}, {nullptr, nullptr}},
    {CTransferDlg::kParityLabel, {"校验", "Check"}, {nullptr, nullptr}},
    {CTransferDlg::kSendRadio, {"发送", "Send"}, {nullptr, nullptr}},
    {CTransferDlg::kReceiveRadio, {"接收", "Receive"}, {nullptr, nullptr}},
    {CTransferDlg::kContinuous,
     {"继续接收", "Continue"},
     {"每收完一个文件，接着以编号的文件名接收下一个",
      "After each file, the next one is received under a numbered name"}},
    {CTransferDlg::kProgress, {"进度", "Progress"}, {nullptr, nullptr}},
    {CTransferDlg::kAnnouncedBaud,
     {"控制器通知的波特率", "Baud rate the controller announced"},
     {nullptr, nullptr}},
};

void SetControlText(QWidget* widget, const QString& text)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(text);
}

QComboBox* NewCombo(QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

} // namespace

void CTransferDlg::Place(QWidget* widget, int id, int x, int y, int w, int h)
{
    const int top = m_menus[0] ? m_menus[0]->sizeHint().height() : 0;
    QRect r = DialogUnitsToPixels(QRect(x, y, w, h), m_dialogFont);
    if (qobject_cast<QComboBox*>(widget)) // the height given includes the drop-down
        r.setHeight(widget->sizeHint().height());
    r.translate(0, top);
    widget->setGeometry(r);
    if (id != -1) {
        widget->setObjectName(QString::number(id));
        m_controls.insert(id, widget);
    }
}

void CTransferDlg::CreateMenus()
{
    struct Item
    {
        int id;
        const char* text[2];
    };
    const Item popupItems[] = {{kCmdChinese, {"中文(Chinese)", "Chinese(中文)"}},
                               {kCmdEnglish, {"英文(English)", "English(英文)"}}};
    const char* popupTitle[2] = {"语言(language)", "Language(语言)"};
    // The commands on the bar itself, after the language pop-up.
    const Item barItems[] = {{kCmdAbout, {"关于", "Information"}},
                             {kCmdHistory, {"历史记录", "History"}}};
    for (int language = 0; language < 2; ++language) {
        auto* bar = new QMenuBar(this);
        QMenu* popup = bar->addMenu(QString::fromUtf8(popupTitle[language]));
        for (const Item& item : popupItems) {
            QAction* action = popup->addAction(QString::fromUtf8(item.text[language]));
            m_commands[language].insert(item.id, action);
        }
        for (const Item& item : barItems)
            m_commands[language].insert(item.id,
                                        bar->addAction(QString::fromUtf8(item.text[language])));
        m_protocol->AddMenu(bar, language);
        bar->setVisible(language == 0);
        m_menus[language] = bar;
    }
}

void CTransferDlg::CreateControls()
{
    const QSize client =
        DialogUnitsToPixels(QRect(0, 0, kDialogWidthDu, kDialogHeightDu), m_dialogFont).size();
    const int menuHeight = m_menus[0]->sizeHint().height();
    setFixedSize(client.width(), client.height() + menuHeight);
    for (QMenuBar* bar : m_menus)
        bar->setGeometry(0, 0, client.width(), menuHeight);

    // Group frames first, so that they lie under the controls they frame.
    Place(new QGroupBox(QStringLiteral("通信设置"), this), kLinkGroup, 30, 105, 132, 91);
    Place(new QGroupBox(QStringLiteral("通信类型"), this), kTypeGroup, 221, 105, 56, 91);

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    Place(separator, -1, 0, 0, 308, 1);

    Place(NewCombo(this), kPathBox, 30, 13, 220, 115);
    Place(new CHoverButton(this), kBrowse, 253, 10, 24, 18);
    Place(new FileListView(this), kFileList, 30, 31, 247, 67);

    const int labelIds[] = {kPortLabel, kBaudLabel, kDataBitsLabel, kParityLabel, kStopBitsLabel};
    const char* labelTexts[] = {"端口号", "波特率", "数据位", "校  验", "停止位"};
    const int comboIds[] = {kPortBox, kBaudBox, kDataBitsBox, kParityBox, kStopBitsBox};
    const int comboHeights[] = {69, 92, 70, 77, 80};
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(QString::fromUtf8(labelTexts[i]), this);
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        Place(label, labelIds[i], 34, 121 + 14 * i, 46, 8);
        Place(NewCombo(this), comboIds[i], 84, 119 + 14 * i, 71, comboHeights[i]);
        label->setBuddy(GetDlgItem(comboIds[i])); // a screen reader names the box by it
    }
    for (int id : {kDataBitsBox, kParityBox, kStopBitsBox})
        GetDlgItem(id)->setEnabled(false);

    auto* announced = new QLabel(this);
    announced->setFrameStyle(QFrame::Box | QFrame::Plain);
    announced->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Place(announced, kAnnouncedBaud, 84, 133, 71, 13);

    Place(new QCheckBox(QStringLiteral("连续接收"), this), kContinuous, 171, 127, 43, 10);
    Place(new QLabel(this), kSpareLabel, 178, 180, 48, 8);

    auto* send = new QRadioButton(QStringLiteral("发   送"), this);
    auto* receive = new QRadioButton(QStringLiteral("接   收"), this);
    Place(send, kSendRadio, 228, 128, 45, 10);
    Place(receive, kReceiveRadio, 228, 171, 45, 10);

    Place(new CPercentBar(this), kProgress, 31, 201, 246, 14);

    auto* start = new QPushButton(QStringLiteral("开始"), this);
    start->setDefault(true);
    Place(start, kStart, 51, 226, 50, 14);
    Place(new QPushButton(QStringLiteral("取消"), this), kCancel, 130, 226, 50, 14);
    Place(new QPushButton(QStringLiteral("关闭"), this), kExit, 209, 226, 50, 14);
    // Enter presses the push button that has the focus; anywhere else it
    // presses Start, the default button.
    for (int id : {kStart, kCancel, kExit, kBrowse})
        Item<QPushButton>(id)->setAutoDefault(true);

    // Tab order follows the window's order of controls.
    setTabOrder(GetDlgItem(kPathBox), GetDlgItem(kBrowse));
}

// ---------------------------------------------------------------- captions

void CTransferDlg::ApplyCaptions(int language)
{
    const int lang = language == 0 ? 0 : 1;
    m_journal->SetLanguage(lang);
    if (auto* bar = ProgressBar()) {
        bar->SetLanguage(lang);
        bar->repaint();
    }
    if (IsReceiveMode() && !m_protocol->Chosen())
        Item<QComboBox>(kBaudBox)->setEditText(LocalText(177, 176));
    if (m_arrivedShown)
        ShowArrivedCaption();
    ShowFeedCaption();
    for (const Caption& caption : kCaptions)
        SetControlText(GetDlgItem(caption.id),
                       QString::fromUtf8(lang == 0 ? caption.chinese : caption.english));
    ApplyColumnTitles(lang);
    Item<QCheckBox>(kContinuous)
        ->setText(lang == 0 ? QStringLiteral("继续接收") : QStringLiteral("Continue"));
    ApplyAccessibleTexts(lang);
}

void CTransferDlg::ApplyAccessibleTexts(int language)
{
    const int lang = language == 0 ? 0 : 1;
    setAccessibleName(kProgramName);
    for (const AccessibleText& text : kAccessibleTexts) {
        const QString name = QString::fromUtf8(text.name[lang]);
        const QString description =
            text.description[lang] ? QString::fromUtf8(text.description[lang]) : QString();
        // A combo box is read through its edit field and its drop-down list too.
        QWidget* widget = GetDlgItem(text.id);
        QList<QWidget*> parts{widget};
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            parts << combo->lineEdit() << combo->view();
        for (QWidget* part : parts) {
            if (part == nullptr)
                continue;
            part->setAccessibleName(name);
            part->setAccessibleDescription(description);
        }
    }
    ApplyTapeAccessibleTexts(lang);
}

void CTransferDlg::ApplyColumnTitles(int language)
{
    QStringList titles;
    for (const char* title : kColumnTitles[language == 0 ? 0 : 1])
        titles << QString::fromUtf8(title);
    FileList()->SetColumnTitles(titles);
}

void CTransferDlg::OnLanguageChinese()
{
    if (m_language == 0)
        return;
    m_language = 0;
    m_menus[1]->hide();
    m_menus[0]->show();
    m_qtTexts->SetLanguage(m_language);
    ApplyCaptions(m_language);
}

void CTransferDlg::OnLanguageEnglish()
{
    if (m_language == 1)
        return;
    m_language = 1;
    m_menus[0]->hide();
    m_menus[1]->show();
    m_qtTexts->SetLanguage(m_language);
    ApplyCaptions(m_language);
}

// ----------------------------------------------------------------- layouts

void CTransferDlg::ApplyLayout()
{
    const bool send = Item<QRadioButton>(kSendRadio)->isChecked();
    auto* list = FileList();
    auto* path = Item<QComboBox>(kPathBox);
    list->setVisible(send);
    list->setEnabled(send);
    path->setVisible(!send);
    path->setEnabled(!send);
    Item<QWidget>(kContinuous)->setVisible(!send);
}

void CTransferDlg::OnReceiveMode()
{
    if (auto* bar = ProgressBar()) {
        bar->SetMode(1);
        bar->repaint();
    }
    // A tape line keeps its speed in both directions.
    auto* baud = Item<QComboBox>(kBaudBox);
    if (!m_protocol->Chosen()) {
        baud->setEnabled(false);
        baud->setEditText(LocalText(177, 176));
    }
    ApplyLayout();
    OnSendingChanged();
}

void CTransferDlg::OnSendMode()
{
    if (auto* bar = ProgressBar()) {
        bar->SetMode(0);
        bar->repaint();
    }
    auto* baud = Item<QComboBox>(kBaudBox);
    if (!m_protocol->Chosen()) {
        baud->setEnabled(true);
        baud->setEditText(baud->itemText(baud->currentIndex()));
    }
    ApplyLayout();
    OnSendingChanged();
}
