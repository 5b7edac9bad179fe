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
    QString ButtonText(CTransferDlg& dlg, int id) const
    {
        return dlg.Item<QAbstractButton>(id)->text();
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
    // The caption table, not the template's texts: "退出" on Exit.
    EXPECT_EQ(ButtonText(dlg, CTransferDlg::kExit), "退出");
    EXPECT_EQ(ButtonText(dlg, CTransferDlg::kSendRadio), "发   送");
    EXPECT_EQ(dlg.Item<QLabel>(CTransferDlg::kParityLabel)->text(), "校  验");
    EXPECT_EQ(dlg.Item<QGroupBox>(CTransferDlg::kLinkGroup)->title(), "通信设置");
    EXPECT_EQ(dlg.FileList()->headerItem()->text(2), "文件路径");
    EXPECT_EQ(dlg.FileList()->columnWidth(2), 320);
    EXPECT_TRUE(dlg.CurrentMenu()->isVisible());
    EXPECT_EQ(dlg.CurrentMenu()->actions().value(1)->text(), "关于");
    EXPECT_EQ(dlg.windowTitle(), QString());
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
    using Confirm = std::function<void(CTransferDlg&)>;
    const std::tuple<const char*, QString, Confirm> rows[] = {
        {"Enter", "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0",
         [](CTransferDlg& dlg) {
             QTest::keyClick(dlg.GetDlgItem(CTransferDlg::kPortBox), Qt::Key_Return);
         }},
        {"leaving the box", "rfc2217://lathe-2.local:4001",
         [](CTransferDlg& dlg) {
             QTest::keyClick(dlg.GetDlgItem(CTransferDlg::kPortBox), Qt::Key_Tab);
         }},
        {"Start", "tcp://10.0.0.7:7000",
         [](CTransferDlg& dlg) {
             QTest::mouseClick(dlg.Item<QAbstractButton>(CTransferDlg::kStart), Qt::LeftButton);
         }},
    };
    for (const auto& [how, typed, confirm] : rows) {
        SCOPED_TRACE(how);
        {
            CTransferDlg dlg;
            dlg.show();
            QApplication::setActiveWindow(&dlg);
            ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
            auto* port = dlg.Item<QComboBox>(CTransferDlg::kPortBox);
            port->setFocus();
            port->lineEdit()->selectAll();
            QTest::keyClicks(port, typed);
            ASSERT_EQ(port->currentText(), typed);
            EXPECT_NE(Store().ReadSettingString("COM", "value"), typed) << "stored unconfirmed";
            confirm(dlg);
            EXPECT_EQ(Store().ReadSettingString("COM", "value"), typed);
        }
        CTransferDlg again;
        auto* port = again.Item<QComboBox>(CTransferDlg::kPortBox);
        EXPECT_EQ(port->currentText(), typed);
        EXPECT_EQ(port->itemText(port->currentIndex()), typed); // offered in the list
    }
}

// The ways a person changes a button's state: the mouse, a screen reader's
// action (Qt toggles the button without a click), the keyboard.
void Click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}
void ToggleAction(QAbstractButton* button)
{
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(item, nullptr);
    ASSERT_NE(item->actionInterface(), nullptr);
    ASSERT_TRUE(item->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::toggleAction()));
    item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}
void SpaceKey(QAbstractButton* button)
{
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
}

TEST_F(TransferDialog, ReceiveAndSendLayoutsFollowTheRadioButtonsHoweverSwitched)
{
    for (const auto& [how, use] :
         {std::pair{"mouse", &Click}, std::pair{"accessibility", &ToggleAction},
          std::pair{"keyboard", &SpaceKey}}) {
        SCOPED_TRACE(how);
        CTransferDlg dlg;
        dlg.show();
        auto* baud = dlg.Item<QComboBox>(CTransferDlg::kBaudBox);
        baud->setCurrentIndex(1);
        use(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio));
        EXPECT_TRUE(dlg.IsReceiveMode());
        EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kFileList)->isVisible());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isVisible());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isEnabled());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kContinuous)->isVisible());
        EXPECT_FALSE(baud->isEnabled());
        EXPECT_EQ(baud->currentText(), "默认");
        EXPECT_EQ(dlg.ProgressBar()->GetCaption(), "接收进度：0%");
        // The check box of a continuous receive is read as it stands.
        use(dlg.Item<QCheckBox>(CTransferDlg::kContinuous));
        EXPECT_TRUE(dlg.IsContinuousChecked());

        use(dlg.Item<QRadioButton>(CTransferDlg::kSendRadio));
        EXPECT_FALSE(dlg.IsReceiveMode());
        EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kFileList)->isVisible());
        EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isVisible());
        EXPECT_TRUE(baud->isEnabled());
        EXPECT_EQ(baud->currentText(), "19200");
        EXPECT_EQ(dlg.ProgressBar()->GetCaption(), "发送进度：0%");
    }
    // Clicking the checked Receive button again keeps the receive layout.
    CTransferDlg dlg;
    dlg.show();
    for (int i = 0; i < 2; ++i)
        Click(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio));
    EXPECT_TRUE(dlg.GetDlgItem(CTransferDlg::kPathBox)->isVisible());
    EXPECT_EQ(ComboText(dlg, CTransferDlg::kBaudBox), "默认");
}

// The visible text of a control: a button's, a label's or a group box's.
QString Caption(CTransferDlg& dlg, int id)
{
    QWidget* widget = dlg.GetDlgItem(id);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    return QStringLiteral("(no caption)");
}

using Reader = std::function<QString(CTransferDlg&)>;
Reader CaptionOf(int id)
{
    return [id](CTransferDlg& dlg) { return Caption(dlg, id); };
}
Reader ColumnTitle(int column)
{
    return [column](CTransferDlg& dlg) { return dlg.FileList()->headerItem()->text(column); };
}
Reader MenuItem(int index)
{
    return [index](CTransferDlg& dlg) { return dlg.CurrentMenu()->actions().value(index)->text(); };
}
Reader Command(int id)
{
    return [id](CTransferDlg& dlg) { return dlg.MenuCommand(dlg.Language(), id)->text(); };
}

// What a screen reader reads of a control: its name, or for a combo box the
// name of its edit field, where the focus goes.
QString SpokenName(QWidget* widget)
{
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        widget = combo->lineEdit();
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(widget);
    return item != nullptr ? item->text(QAccessible::Name) : QStringLiteral("(none)");
}
Reader NameOf(int id)
{
    return [id](CTransferDlg& dlg) { return SpokenName(dlg.GetDlgItem(id)); };
}
Reader ValueOf(int id)
{
    return [id](CTransferDlg& dlg) {
        return QAccessible::queryAccessibleInterface(dlg.GetDlgItem(id))->text(QAccessible::Value);
    };
}

struct CaptionRow
{
    const char* what;
    Reader read;
    const char* chinese;
    const char* english;
};

// Every text of the window in both languages (shown in Receive mode).
const CaptionRow kCaptionRows[] = {
    {"baud label", CaptionOf(CTransferDlg::kBaudLabel), "波特率", "Baud rate"},
    {"link group", CaptionOf(CTransferDlg::kLinkGroup), "通信设置", "Set communication"},
    {"data bits label", CaptionOf(CTransferDlg::kDataBitsLabel), "数据位", "Data Bit"},
    {"parity label", CaptionOf(CTransferDlg::kParityLabel), "校  验", "Check"},
    {"port label", CaptionOf(CTransferDlg::kPortLabel), "端口号", "Port number"},
    {"stop bits label", CaptionOf(CTransferDlg::kStopBitsLabel), "停止位", "Stop bit"},
    {"type group", CaptionOf(CTransferDlg::kTypeGroup), "通信类型", "Type"},
    {"send radio", CaptionOf(CTransferDlg::kSendRadio), "发   送", "Send"},
    {"receive radio", CaptionOf(CTransferDlg::kReceiveRadio), "接   收", "Receive"},
    {"start", CaptionOf(CTransferDlg::kStart), "开始", "Start"},
    {"exit", CaptionOf(CTransferDlg::kExit), "退出", "Exit"},
    {"cancel", CaptionOf(CTransferDlg::kCancel), "取消", "Cancel"},
    {"column 0", ColumnTitle(0), "选择", "Selecting"},
    {"column 1", ColumnTitle(1), "状态", "State"},
    {"column 2", ColumnTitle(2), "文件路径", "Path"},
    {"check box", CaptionOf(CTransferDlg::kContinuous), "继续接收", "Continue"},
    {"language menu", MenuItem(0), "语言(language)", "Language(语言)"},
    {"Chinese command", Command(CTransferDlg::kCmdChinese), "中文(Chinese)", "Chinese(中文)"},
    {"English command", Command(CTransferDlg::kCmdEnglish), "英文(English)", "English(英文)"},
    {"about command", MenuItem(1), "关于", "Information"},
    {"progress caption", [](CTransferDlg& dlg) { return dlg.ProgressBar()->GetCaption(); },
     "接收进度：0%", "Receiving progress: 0%"},
    {"baud box",
     [](CTransferDlg& dlg) { return dlg.Item<QComboBox>(CTransferDlg::kBaudBox)->currentText(); },
     "默认", "Default"},
    {"window title", [](CTransferDlg& dlg) { return dlg.windowTitle(); }, "", ""},
    // What a screen reader says.
    {"window name", [](CTransferDlg& dlg) { return SpokenName(&dlg); }, "TAPEWAY", "TAPEWAY"},
    {"browse button", NameOf(CTransferDlg::kBrowse), "浏览", "Browse"},
    {"receive target", NameOf(CTransferDlg::kPathBox), "接收文件", "Receive file"},
    {"file list", NameOf(CTransferDlg::kFileList), "文件列表", "File list"},
    {"port box", NameOf(CTransferDlg::kPortBox), "端口号", "Port number"},
    {"parity box", NameOf(CTransferDlg::kParityBox), "校验", "Check"},
    {"receive radio name", NameOf(CTransferDlg::kReceiveRadio), "接收", "Receive"},
    {"progress bar", NameOf(CTransferDlg::kProgress), "进度", "Progress"},
    {"progress value", ValueOf(CTransferDlg::kProgress), "接收进度：0%", "Receiving progress: 0%"},
};

TEST_F(TransferDialog, LanguageSwitchesEveryCaptionAtOnce)
{
    CTransferDlg dlg;
    dlg.show();
    Click(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio));
    // Chinese at start, English, English again (no change), Chinese again.
    for (int language : {0, 1, 1, 0}) {
        dlg.MenuCommand(dlg.Language(),
                        language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        ASSERT_EQ(dlg.Language(), language);
        EXPECT_TRUE(dlg.CurrentMenu()->isVisible());
        EXPECT_EQ(dlg.ProgressBar()->GetLanguage(), language);
        for (const CaptionRow& row : kCaptionRows)
            EXPECT_EQ(row.read(dlg), QString::fromUtf8(language == 0 ? row.chinese : row.english))
                << row.what << " in language " << language;
    }
}

// Every control a person can reach with the keyboard, as a screen reader
// finds it: the windows's accessible tree.
void CollectFocusable(QAccessibleInterface* item, QList<QAccessibleInterface*>& found)
{
    if (item == nullptr)
        return;
    if (item->state().focusable && qobject_cast<QWidget*>(item->object()) != nullptr)
        found.append(item);
    for (int i = 0; i < item->childCount(); ++i)
        CollectFocusable(item->child(i), found);
}

TEST_F(TransferDialog, EveryFocusableControlHasANameInBothLanguagesAndModes)
{
    CTransferDlg dlg;
    dlg.show();
    dlg.FileList()->AppendRow(0, "/a/O1000.nc");
    for (int language : {0, 1}) {
        dlg.MenuCommand(dlg.Language(),
                        language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        for (int radio : {CTransferDlg::kReceiveRadio, CTransferDlg::kSendRadio}) {
            Click(dlg.Item<QRadioButton>(radio));
            QList<QAccessibleInterface*> focusable;
            CollectFocusable(QAccessible::queryAccessibleInterface(&dlg), focusable);
            EXPECT_GE(focusable.size(), 12); // the walk reached the controls
            for (QAccessibleInterface* item : focusable)
                EXPECT_FALSE(item->text(QAccessible::Name).trimmed().isEmpty())
                    << item->object()->metaObject()->className() << " "
                    << item->object()->objectName().toStdString() << " in language " << language
                    << ", mode " << radio;
        }
    }
}

// Notes the push-button texts of the next modal window and closes it with
// Esc, as a person would.
QStringList ButtonsOfModal(const std::function<void()>& open)
{
    QStringList texts;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        poll.stop();
        for (QPushButton* button : modal->findChildren<QPushButton*>()) {
            if (button->isVisible() && !button->text().isEmpty())
                texts << button->text();
        }
        texts.sort();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    poll.start();
    open();
    return texts;
}

TEST_F(TransferDialog, QtsOwnTextsSpeakTheLanguageOfTheDialog)
{
    if (!QFile::exists(LibraryTranslations::DefaultDirectory() + "/qtbase_zh_CN.qm"))
        GTEST_SKIP() << "Qt's Chinese translations (qt6-translations-l10n) are not installed";
    {
        // Without the catalogues Qt keeps its English, and nothing is said.
        QTemporaryDir empty;
        LibraryTranslations missing(empty.path());
        EXPECT_EQ(missing.SetLanguage(tapeway::kChinese), 0);
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "OK"), "OK");
    }
    PromptSeam::SetResponder(nullptr); // the real message boxes and file dialog
    CTransferDlg dlg;
    dlg.show();
    Click(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio));
    struct Row
    {
        int language;
        QStringList message;
        QStringList question;
        QStringList fileDialog;
        bool chineseLocale; // it names the file types
    };
    const Row rows[] = {
        {0, {"确定"}, {"否(&N)", "是(&Y)"}, {"取消", "打开(&O)"}, true},
        {1, {"OK"}, {"&No", "&Yes"}, {"&Open", "Cancel"}, false},
        {0, {"确定"}, {"否(&N)", "是(&Y)"}, {"取消", "打开(&O)"}, true},
    };
    for (const Row& row : rows) {
        dlg.MenuCommand(dlg.Language(),
                        row.language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        EXPECT_EQ(QLocale().language() == QLocale::Chinese, row.chineseLocale);
        // Start without a target name says so in a message box.
        EXPECT_EQ(ButtonsOfModal([&] { Click(dlg.Item<QAbstractButton>(CTransferDlg::kStart)); }),
                  row.message)
            << row.language;
        EXPECT_EQ(ButtonsOfModal([&] { dlg.AskOverwrite("/x"); }), row.question) << row.language;
        EXPECT_EQ(ButtonsOfModal([&] { Click(dlg.Item<QAbstractButton>(CTransferDlg::kBrowse)); }),
                  row.fileDialog)
            << row.language;
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
    enum Outcome
    {
        kStarted, // Start ran: it asks for the missing target name
        kBrowsed, // the file dialog opened
        kClosed,  // Exit closed the window
    };
    const std::tuple<int, Qt::Key, Outcome> rows[] = {
        {CTransferDlg::kPathBox, Qt::Key_Return, kStarted},
        {CTransferDlg::kPortBox, Qt::Key_Enter, kStarted},
        {CTransferDlg::kReceiveRadio, Qt::Key_Return, kStarted},
        {CTransferDlg::kContinuous, Qt::Key_Return, kStarted},
        {CTransferDlg::kStart, Qt::Key_Return, kStarted},
        {CTransferDlg::kBrowse, Qt::Key_Return, kBrowsed},
        {CTransferDlg::kExit, Qt::Key_Enter, kClosed},
    };
    for (const auto& [id, key, outcome] : rows) {
        SCOPED_TRACE(id);
        m_prompts.messages.clear();
        m_prompts.fileRequests.clear();
        CTransferDlg dlg;
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        Click(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio));
        dlg.Item<QComboBox>(CTransferDlg::kPathBox)->setEditText("   ");
        dlg.GetDlgItem(id)->setFocus();
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(m_prompts.Texts(),
                  outcome == kStarted ? QStringList{"请输入保存接受信息的文件名!"} : QStringList{});
        EXPECT_EQ(m_prompts.fileRequests.size(), outcome == kBrowsed ? 1 : 0);
        EXPECT_EQ(dlg.isVisible(), outcome != kClosed);
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
