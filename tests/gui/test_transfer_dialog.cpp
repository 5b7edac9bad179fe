// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CTransferDlg.h"
#include "resources/StringTable.h"
#include "settings/SettingsStore.h"
#include "support/ScriptedPrompts.h"
#include "transfer/TransferSession.h"
#include "ui/CPercentBar.h"
#include "ui/FileListView.h"
#include "ui/LibraryTranslations.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <tuple>

namespace {

// Every dialog of these tests keeps its settings in a fresh directory.
class TransferDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    }

    tapeway::SettingsStore Store() const { return tapeway::SettingsStore(); }

    QString ComboText(CTransferDlg& dlg, int id) const
    {
        return dlg.Item<QComboBox>(id)->currentText();
    }

    QTemporaryDir m_config;
    ScriptedPrompts m_prompts;
};

TEST_F(TransferDialog, StartsInSendModeInChineseWithDefaultSettings)
{
    CTransferDlg dlg;
    dlg.show();
    EXPECT_EQ(ComboText(dlg, CTransferDlg::kBaudBox), "9600");
    EXPECT_EQ(ComboText(dlg, CTransferDlg::kDataBitsBox), "8");
    EXPECT_EQ(ComboText(dlg, CTransferDlg::kParityBox), "NONE");
    EXPECT_EQ(ComboText(dlg, CTransferDlg::kStopBitsBox), "1");
    for (int id :
         {CTransferDlg::kDataBitsBox, CTransferDlg::kParityBox, CTransferDlg::kStopBitsBox})
        EXPECT_FALSE(dlg.GetDlgItem(id)->isEnabled()) << id;
    EXPECT_TRUE(dlg.Item<QRadioButton>(CTransferDlg::kSendRadio)->isChecked());
    EXPECT_FALSE(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio)->isChecked());
    EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kFileList)->isVisible());
    EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isVisible());
    EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kContinuous)->isVisible());
    EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kAnnouncedBaud)->isVisible());
    EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kCancel)->isEnabled());
    EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kStart)->isEnabled());
    EXPECT_TRUE(dlg.Item<QPushButton>(CTransferDlg::kStart)->isDefault());
    EXPECT_EQ(dlg.FileList()->columnWidth(2), 320);
    EXPECT_TRUE(dlg.CurrentMenu()->isVisible());
    // Every control of the window is there, addressed by its id.
    for (int id : {1,    1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1010, 1014, 1016,
                   1017, 1018, 1019, 1020, 1021, 1022, 1027, 1028, 1032, 1035, 1036, 1037})
        EXPECT_NE(dlg.GetDlgItem(id), nullptr) << id;
}

TEST_F(TransferDialog, SavedBaudChoiceOutsideTheListSelects9600)
{
    for (const auto& [saved, expected] : {std::pair{"1", "19200"}, std::pair{"2", "38400"},
                                          std::pair{"3", "9600"}, std::pair{"-1", "9600"}}) {
        Store().WriteSettingString("BAUD", "value", saved);
        CTransferDlg dlg;
        EXPECT_EQ(ComboText(dlg, CTransferDlg::kBaudBox), expected) << saved;
    }
}

TEST_F(TransferDialog, ChoosingPortAndBaudIsStoredAtOnceAndRestored)
{
    {
        CTransferDlg dlg;
        auto* baud = dlg.Item<QComboBox>(CTransferDlg::kBaudBox);
        baud->setCurrentIndex(2);
        emit baud->activated(2);
        EXPECT_EQ(Store().ReadSettingValue("BAUD", -1), 2);
        auto* port = dlg.Item<QComboBox>(CTransferDlg::kPortBox);
        const int last = port->count() - 1;
        ASSERT_GE(last, 0);
        port->setCurrentIndex(last);
        emit port->activated(last);
        EXPECT_EQ(Store().ReadSettingString("COM", "value"), port->itemText(last));
    }
    CTransferDlg again;
    EXPECT_EQ(ComboText(again, CTransferDlg::kBaudBox), "38400");
    auto* port = again.Item<QComboBox>(CTransferDlg::kPortBox);
    EXPECT_EQ(port->currentIndex(), port->count() - 1);
}

TEST_F(TransferDialog, TypedPortNameIsStoredWhenConfirmedAndSelectedAtTheNextStart)
{
    // Confirmed by Enter, by leaving the box, by Start (Key_unknown).
    for (const auto& [typed, key] :
         {std::pair{"/dev/serial/by-id/usb-FTDI_FT232R-if00-port0", Qt::Key_Return},
          std::pair{"rfc2217://lathe-2.local:4001", Qt::Key_Tab},
          std::pair{"tcp://10.0.0.7:7000", Qt::Key_unknown}}) {
        {
            CTransferDlg dlg;
            dlg.show();
            dlg.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
            auto* port = dlg.Item<QComboBox>(CTransferDlg::kPortBox);
            port->setFocus();
            port->lineEdit()->selectAll();
            QTest::keyClicks(port, typed);
            if (key == Qt::Key_unknown)
                QTest::mouseClick(dlg.Item<QAbstractButton>(CTransferDlg::kStart), Qt::LeftButton);
            else
                QTest::keyClick(port, key);
            EXPECT_EQ(Store().ReadSettingString("COM", "value"), typed);
        }
        CTransferDlg again;
        auto* port = again.Item<QComboBox>(CTransferDlg::kPortBox);
        EXPECT_EQ(port->itemText(port->currentIndex()), typed); // offered and selected
    }
}

// What a screen reader's "activate" does: Qt toggles the button without a click.
void Toggle(QAbstractButton* button)
{
    QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
}

TEST_F(TransferDialog, ReceiveAndSendLayoutsFollowTheRadioButtonsHoweverSwitched)
{
    CTransferDlg dlg;
    dlg.show();
    auto* baud = dlg.Item<QComboBox>(CTransferDlg::kBaudBox);
    baud->setCurrentIndex(1);
    // Receive clicked twice, then (after Send) toggled as a screen reader does.
    for (int i = 0; i < 3; ++i) {
        auto* receive = dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio);
        i < 2 ? QTest::mouseClick(receive, Qt::LeftButton) : Toggle(receive);
        EXPECT_TRUE(dlg.IsReceiveMode());
        EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kFileList)->isVisible());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isVisible());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isEnabled());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kContinuous)->isVisible());
        EXPECT_FALSE(baud->isEnabled());
        EXPECT_EQ(baud->currentText(), "默认");
        EXPECT_EQ(dlg.ProgressBar()->GetMode(), 1);
        if (i != 1)
            continue;
        Toggle(dlg.Item<QRadioButton>(CTransferDlg::kSendRadio));
        EXPECT_FALSE(dlg.IsReceiveMode());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kFileList)->isVisible());
        EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isVisible());
        EXPECT_TRUE(baud->isEnabled());
        EXPECT_EQ(baud->currentText(), "19200");
        EXPECT_EQ(dlg.ProgressBar()->GetMode(), 0);
    }
    Toggle(dlg.Item<QCheckBox>(CTransferDlg::kContinuous));
    EXPECT_TRUE(dlg.IsContinuousChecked());
}

// Keys of the text table: a control id (its caption, or a menu command's
// text), kName + id (what a screen reader calls it, kName alone the window)
// and the texts below.
constexpr int kColumn = -10; // -10, -11, -12: the list's column titles
constexpr int kMenu = -20;   // -20, -21: the menu bar's items
constexpr int kProgressCaption = -30;
constexpr int kBaudText = -31;
constexpr int kTitle = -32;
constexpr int kName = 100000;

QString TextOf(CTransferDlg& dlg, int key)
{
    if (key >= kName) {
        QWidget* widget = key == kName ? &dlg : dlg.GetDlgItem(key - kName);
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            widget = combo->lineEdit(); // where the focus goes
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    }
    if (key <= kColumn && key > kMenu)
        return dlg.FileList()->headerItem()->text(kColumn - key);
    if (key <= kMenu && key > kProgressCaption)
        return dlg.CurrentMenu()->actions().value(kMenu - key)->text();
    if (key == kProgressCaption)
        return dlg.ProgressBar()->GetCaption();
    if (key == kBaudText)
        return dlg.Item<QComboBox>(CTransferDlg::kBaudBox)->currentText();
    if (key == kTitle)
        return dlg.windowTitle();
    if (auto* button = dlg.Item<QAbstractButton>(key))
        return button->text();
    if (auto* label = dlg.Item<QLabel>(key))
        return label->text();
    if (auto* group = dlg.Item<QGroupBox>(key))
        return group->title();
    return dlg.MenuCommand(dlg.Language(), key)->text();
}

// Every text of the window in Receive mode, Chinese and English.
const std::tuple<int, const char*, const char*> kTexts[] = {
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
    {kColumn, "选择", "Selecting"},
    {kColumn - 1, "状态", "State"},
    {kColumn - 2, "文件路径", "Path"},
    {CTransferDlg::kContinuous, "继续接收", "Continue"},
    {kMenu, "语言(language)", "Language(语言)"},
    {CTransferDlg::kCmdChinese, "中文(Chinese)", "Chinese(中文)"},
    {CTransferDlg::kCmdEnglish, "英文(English)", "English(英文)"},
    {kMenu - 1, "关于", "Information"},
    {kProgressCaption, "接收进度：0%", "Receiving progress: 0%"},
    {kBaudText, "默认", "Default"},
    {kTitle, "", ""},
    {kName, "TAPEWAY", "TAPEWAY"},
    {kName + CTransferDlg::kBrowse, "浏览", "Browse"},
    {kName + CTransferDlg::kPathBox, "接收文件", "Receive file"},
    {kName + CTransferDlg::kFileList, "文件列表", "File list"},
    {kName + CTransferDlg::kParityBox, "校验", "Check"},
    {kName + CTransferDlg::kProgress, "进度", "Progress"},
};

// Every control a person can reach with the keyboard, as a screen reader
// finds it in the window's accessible tree (hidden ones included).
void CollectFocusable(QAccessibleInterface* item, QList<QAccessibleInterface*>& found)
{
    if (item->state().focusable && qobject_cast<QWidget*>(item->object()) != nullptr)
        found.append(item);
    for (int i = 0; i < item->childCount(); ++i)
        CollectFocusable(item->child(i), found);
}

TEST_F(TransferDialog, EveryTextAndEveryNameFollowsTheLanguageAtOnce)
{
    CTransferDlg dlg;
    dlg.show();
    QTest::mouseClick(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio), Qt::LeftButton);
    // Chinese at start, English, English again (no change), Chinese again.
    for (int language : {0, 1, 1, 0}) {
        dlg.MenuCommand(dlg.Language(),
                        language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        ASSERT_EQ(dlg.Language(), language);
        for (const auto& [key, chinese, english] : kTexts)
            EXPECT_EQ(TextOf(dlg, key), QString::fromUtf8(language == 0 ? chinese : english))
                << key << " in language " << language;
        QList<QAccessibleInterface*> focusable;
        CollectFocusable(QAccessible::queryAccessibleInterface(&dlg), focusable);
        EXPECT_GE(focusable.size(), 12);
        for (QAccessibleInterface* item : focusable)
            EXPECT_FALSE(item->text(QAccessible::Name).trimmed().isEmpty())
                << item->object()->metaObject()->className() << " "
                << item->object()->objectName().toStdString() << " has no name";
    }
}

// Notes the push-button texts of the next modal window and closes it with
// Esc, as a person would.
QStringList ButtonsOfModal(const std::function<void()>& open)
{
    QStringList texts;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll.stop();
            for (QPushButton* button : modal->findChildren<QPushButton*>())
                texts << button->text();
            texts.sort();
            QTest::keyClick(modal, Qt::Key_Escape);
        }
    });
    poll.start(20);
    open();
    return texts;
}

TEST_F(TransferDialog, QtsOwnTextsSpeakTheLanguageOfTheDialog)
{
    if (!QFile::exists(LibraryTranslations::DefaultDirectory() + "/qtbase_zh_CN.qm"))
        GTEST_SKIP() << "Qt's Chinese translations (qt6-translations-l10n) are not installed";
    QTemporaryDir empty; // without catalogues Qt keeps its English, and says nothing
    EXPECT_EQ(LibraryTranslations(empty.path()).SetLanguage(tapeway::kChinese), 0);
    PromptSeam::SetResponder(nullptr); // the real message boxes and file dialog
    CTransferDlg dlg;
    dlg.show();
    QTest::mouseClick(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio), Qt::LeftButton);
    const std::tuple<int, QStringList, QStringList, QStringList> rows[] = {
        {0, {"确定"}, {"否(&N)", "是(&Y)"}, {"取消", "打开(&O)"}},
        {1, {"OK"}, {"&No", "&Yes"}, {"&Open", "Cancel"}},
        {0, {"确定"}, {"否(&N)", "是(&Y)"}, {"取消", "打开(&O)"}},
    };
    for (const auto& [language, message, question, files] : rows) {
        dlg.MenuCommand(dlg.Language(),
                        language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        EXPECT_EQ(QLocale().language() == QLocale::Chinese, language == 0); // names file types
        auto click = [&](int id) {
            QTest::mouseClick(dlg.Item<QAbstractButton>(id), Qt::LeftButton);
        };
        // Start without a target name says so in a message box.
        EXPECT_EQ(ButtonsOfModal([&] { click(CTransferDlg::kStart); }), message);
        EXPECT_EQ(ButtonsOfModal([&] { dlg.AskOverwrite("/x"); }), question);
        EXPECT_EQ(ButtonsOfModal([&] { click(CTransferDlg::kBrowse); }), files);
    }
    PromptSeam::SetResponder(&m_prompts);
}

TEST_F(TransferDialog, MessagesFollowTheLanguageUnderTheProgramName)
{
    CTransferDlg dlg;
    dlg.ShowMessage(163, 162);
    dlg.MenuCommand(0, CTransferDlg::kCmdEnglish)->trigger();
    dlg.ShowMessage(163, 162);
    EXPECT_TRUE(dlg.AskOverwrite("/x"));
    ASSERT_EQ(m_prompts.messages.size(), 3);
    EXPECT_EQ(m_prompts.messages[0].text, "无法打开端口！");
    EXPECT_EQ(m_prompts.messages[1].text, "Invalid port number!");
    EXPECT_EQ(m_prompts.messages[1].caption, PromptSeam::ProgramName());
    EXPECT_FALSE(m_prompts.messages[1].yesNo);
    EXPECT_EQ(m_prompts.messages[2].caption, QString());
    EXPECT_TRUE(m_prompts.messages[2].yesNo);
}

TEST_F(TransferDialog, EnterPressesTheFocusedButtonAndElsewhereStart)
{
    // As the window opens: the focus is on Start, and Enter presses it.
    {
        CTransferDlg dlg;
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        QSignalSpy started(dlg.Item<QPushButton>(CTransferDlg::kStart), &QPushButton::clicked);
        EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(CTransferDlg::kStart));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(started.size(), 1);
        EXPECT_TRUE(m_prompts.fileRequests.isEmpty()) << "Enter opened the file picker";
    }
    for (const auto& [id, key] : {std::pair{CTransferDlg::kPathBox, Qt::Key_Return},
                                  std::pair{CTransferDlg::kPortBox, Qt::Key_Enter},
                                  std::pair{CTransferDlg::kContinuous, Qt::Key_Return},
                                  std::pair{CTransferDlg::kStart, Qt::Key_Return},
                                  std::pair{CTransferDlg::kBrowse, Qt::Key_Return},
                                  std::pair{CTransferDlg::kExit, Qt::Key_Enter}}) {
        m_prompts.messages.clear();
        m_prompts.fileRequests.clear();
        CTransferDlg dlg;
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        QTest::mouseClick(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio), Qt::LeftButton);
        dlg.GetDlgItem(id)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), key);
        const bool button = id == CTransferDlg::kBrowse || id == CTransferDlg::kExit;
        // Start asks for the missing target name; Browse asks for files; Exit closes.
        EXPECT_EQ(m_prompts.messages.size(), button ? 0 : 1) << id;
        EXPECT_EQ(m_prompts.fileRequests.size(), id == CTransferDlg::kBrowse ? 1 : 0) << id;
        EXPECT_EQ(dlg.isVisible(), id != CTransferDlg::kExit) << id;
    }
}

TEST_F(TransferDialog, LongPathShowsItsEnd)
{
    const QString longPath = "/home/operator/programs/lathe-number-two/" + QString(20, 'x') + ".nc";
    ASSERT_GT(longPath.size(), 52);
    tapeway::SettingsStore store;
    store.WriteSettingString("PATH", "0", longPath);
    CTransferDlg dlg;
    auto* edit = dlg.Item<QComboBox>(CTransferDlg::kPathBox)->lineEdit();
    EXPECT_EQ(edit->text(), longPath);
    EXPECT_EQ(edit->cursorPosition(), longPath.size());
    EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isEnabled());
}

TEST_F(TransferDialog, BrowseFillsTheControlOfTheMode)
{
    CTransferDlg dlg;
    dlg.show();
    // Send mode: the chosen files replace every row, ticked, in order.
    dlg.FileList()->AppendRow(0, "/old");
    m_prompts.files = {"/a/one.nc", "/a/O1234"};
    QTest::mouseClick(dlg.Item<QAbstractButton>(CTransferDlg::kBrowse), Qt::LeftButton);
    ASSERT_EQ(dlg.FileList()->RowCount(), 2);
    EXPECT_EQ(dlg.FileList()->GetRowPath(1), "/a/O1234");
    EXPECT_TRUE(dlg.FileList()->IsRowChecked(0));
    EXPECT_TRUE(m_prompts.fileRequests.last().multiple);
    EXPECT_TRUE(m_prompts.fileRequests.last().filter.startsWith("CNC文件(*.*)|"));
    // Cancel changes nothing.
    m_prompts.files.clear();
    dlg.Item<QAbstractButton>(CTransferDlg::kBrowse)->click();
    EXPECT_EQ(dlg.FileList()->RowCount(), 2);

    // Receive mode: one name into the path box, its end in view.
    QTest::mouseClick(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio), Qt::LeftButton);
    dlg.MenuCommand(0, CTransferDlg::kCmdEnglish)->trigger();
    const QString chosen = "/srv/cnc/programs/for/the/second/lathe/in/hall/b/part-7.cnc";
    ASSERT_GT(chosen.size(), 52);
    m_prompts.files = {chosen};
    dlg.Item<QAbstractButton>(CTransferDlg::kBrowse)->click();
    EXPECT_FALSE(m_prompts.fileRequests.last().multiple);
    EXPECT_EQ(m_prompts.fileRequests.last().defaultSuffix, "cnc");
    EXPECT_TRUE(m_prompts.fileRequests.last().filter.startsWith("CNC File(*.*)|"));
    auto* path = dlg.Item<QComboBox>(CTransferDlg::kPathBox);
    EXPECT_EQ(path->currentText(), chosen);
    EXPECT_EQ(path->lineEdit()->cursorPosition(), chosen.size());
}

TEST_F(TransferDialog, SendWithoutTickedRowsEndsAtOnce)
{
    CTransferDlg dlg;
    dlg.show();
    dlg.FileList()->AppendRow(0, "/a");
    dlg.FileList()->SetRowState(0, "old");
    dlg.FileList()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QTest::mouseClick(dlg.Item<QAbstractButton>(CTransferDlg::kStart), Qt::LeftButton);
    EXPECT_EQ(dlg.FileList()->GetRowState(0), QString()); // a new batch clears the old states
    EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kStart)->isEnabled());
    EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kCancel)->isEnabled());
    EXPECT_EQ(dlg.Session().RowCursor(), 0);
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(TransferDialog, ControlsLockedDuringATransfer)
{
    CTransferDlg dlg;
    dlg.show();
    dlg.EnableControls(false);
    for (int id : {1, 1001, 1006, 1007, 1008, 1014, 1035, 1036, 1002})
        EXPECT_FALSE(dlg.GetDlgItem(id)->isEnabled()) << id;
    EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kCancel)->isEnabled());
    for (int language : {0, 1})
        for (int id : {CTransferDlg::kCmdChinese, CTransferDlg::kCmdEnglish})
            EXPECT_FALSE(dlg.MenuCommand(language, id)->isEnabled());
    EXPECT_TRUE(dlg.MenuCommand(0, CTransferDlg::kCmdAbout)->isEnabled());
    dlg.EnableControls(true);
    EXPECT_TRUE(dlg.GetDlgItem(1002)->isEnabled());
    EXPECT_TRUE(dlg.MenuCommand(1, CTransferDlg::kCmdEnglish)->isEnabled());
    EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kCancel)->isEnabled());
}

} // namespace
