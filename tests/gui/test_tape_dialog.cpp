// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CFeedStartDlg.h"
#include "app/CTapeProfileDlg.h"
#include "app/CTransferDlg.h"
#include "app/DialogFeed.h"
#include "app/DialogProtocol.h"
#include "resources/StringTable.h"
#include "serial/VirtualNullModem.h"
#include "settings/SettingsStore.h"
#include "support/ScriptedPrompts.h"
#include "support/TapePeer.h"
#include "support/WaitFor.h"
#include "transfer/FileReport.h"
#include "transfer/TapeProfileFile.h"
#include "transfer/TransferSession.h"
#include "ui/CPercentBar.h"
#include "ui/FileListView.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

class TapeDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        qputenv("TAPEWAY_JOURNAL", ("sqlite:" + m_config.filePath("journal.sqlite")).toUtf8());
    }
    void TearDown() override { qunsetenv("TAPEWAY_JOURNAL"); }

    QTemporaryDir m_config;
    ScriptedPrompts m_prompts;
};

// The menu bar's item at the end of the path of names, as a screen reader
// finds it: a pop-up's one child is its menu.
QAccessibleInterface* MenuItem(CTransferDlg& dlg, const QStringList& path)
{
    QAccessibleInterface* at = QAccessible::queryAccessibleInterface(dlg.CurrentMenu());
    for (qsizetype step = 0; at && step < path.size(); ++step) {
        if (step > 0)
            at = at->childCount() == 1 ? at->child(0) : nullptr;
        QAccessibleInterface* found = nullptr;
        for (int i = 0; at && i < at->childCount() && !found; ++i)
            if (at->child(i)->text(QAccessible::Name) == path[step])
                found = at->child(i);
        at = found;
    }
    return at;
}

// Presses it as a screen reader does; false when there is no such item.
bool Press(CTransferDlg& dlg, const QStringList& path)
{
    QAccessibleInterface* item = MenuItem(dlg, path);
    if (!item)
        return false;
    item->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    return true;
}

const QString kProtocol[2] = {"协议(Protocol)", "Protocol(协议)"};
const QString kPacket[2] = {"数据包协议(Packet protocol)", "Packet protocol(数据包协议)"};
const QString kWindow[2] = {"纸带配置...(Tape profile...)", "Tape profile...(纸带配置...)"};
const QString kFeedStart[2] = {"从...开始(Start at...)", "Start at...(从...开始)"};

QStringList Boxes(CTransferDlg& dlg)
{
    QStringList texts;
    for (int id : {CTransferDlg::kBaudBox, CTransferDlg::kDataBitsBox, CTransferDlg::kParityBox,
                   CTransferDlg::kStopBitsBox}) {
        auto* box = dlg.Item<QComboBox>(id);
        texts << box->currentText() + (box->isEnabled() ? "" : " (off)");
    }
    return texts;
}

// The profile window the Protocol menu opened, active for the keyboard.
CTapeProfileDlg* OpenWindow(CTransferDlg& dlg)
{
    if (!Press(dlg, {kProtocol[dlg.Language()], kWindow[dlg.Language()]}))
        return nullptr;
    auto* window = dlg.findChild<CTapeProfileDlg*>();
    if (window) {
        window->activateWindow();
        EXPECT_TRUE(WaitFor([&] { return QApplication::activeWindow() == window; }));
    }
    return window;
}

TEST_F(TapeDialog, TheProtocolMenuChoosesTheLineAndTheFrameBoxesFollowIt)
{
    CTransferDlg dlg;
    dlg.show();
    const QStringList packet{"9600", "8 (off)", "NONE (off)", "1 (off)"};
    EXPECT_EQ(Boxes(dlg), packet);
    EXPECT_FALSE(dlg.TapeLine());
    EXPECT_TRUE(MenuItem(dlg, {kProtocol[0], kWindow[0]})->state().disabled);
    EXPECT_TRUE(MenuItem(dlg, {kProtocol[0], kFeedStart[0]})->state().disabled);

    // A profile's boxes show its own speed and frame.
    auto boxesOf = [](const char* name) {
        const TapeProfile p = *TapeProfileFile::Find(TapeProfileFile::Presets(), name);
        return QStringList{QString::number(p.baud), QString::number(p.dataBits),
                           QStringList{"NONE", "EVEN", "ODD"}.value(int(p.parity)),
                           QString::number(p.stopBits)};
    };
    struct Row
    {
        int language;
        QString item;
        bool receive;
        QStringList boxes;
    };
    const Row rows[] = {
        {0, "Fanuc ISO", false, boxesOf("Fanuc ISO")},
        // A tape line's speed is the operator's in a receive as well.
        {1, "Siemens", true, boxesOf("Siemens")},
        {1, kPacket[1], true, {"Default (off)", "8 (off)", "NONE (off)", "1 (off)"}},
        {0, kPacket[0], false, packet},
        {0, "Plain 8N1", true, {"9600", "8", "NONE", "1"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.item.toStdString());
        dlg.MenuCommand(dlg.Language(),
                        row.language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        QTest::mouseClick(dlg.Item<QRadioButton>(row.receive ? CTransferDlg::kReceiveRadio
                                                             : CTransferDlg::kSendRadio),
                          Qt::LeftButton);
        ASSERT_TRUE(Press(dlg, {kProtocol[row.language], row.item}));
        EXPECT_EQ(Boxes(dlg), row.boxes);
        EXPECT_TRUE(MenuItem(dlg, {kProtocol[row.language], row.item})->state().checked);
        EXPECT_EQ(dlg.TapeLine().has_value(), !row.item.contains("("));
        // Where a feed starts is a tape send's choice.
        EXPECT_EQ(
            MenuItem(dlg, {kProtocol[row.language], kFeedStart[row.language]})->state().disabled,
            row.receive || row.item.contains("("));
    }

    // The boxes' values are the line's: chosen by the keyboard, kept for the next start.
    auto* baud = dlg.Item<QComboBox>(CTransferDlg::kBaudBox);
    baud->setFocus();
    QTest::keyClick(baud, Qt::Key_Down); // 19200
    auto* stopBits = dlg.Item<QComboBox>(CTransferDlg::kStopBitsBox);
    stopBits->setFocus();
    QTest::keyClick(stopBits, Qt::Key_Down); // 2
    ASSERT_TRUE(dlg.TapeLine());
    EXPECT_EQ(dlg.TapeLine()->name, "Plain 8N1");
    EXPECT_EQ(dlg.TapeLine()->baud, 19200);
    EXPECT_EQ(dlg.TapeLine()->FrameText(), "8N2");
    // A line's controls are locked while a transfer runs, the menu with them.
    dlg.EnableControls(false);
    EXPECT_TRUE(MenuItem(dlg, {kProtocol[0]})->state().disabled);
    EXPECT_FALSE(stopBits->isEnabled());
    dlg.EnableControls(true);
    EXPECT_TRUE(stopBits->isEnabled());

    CTransferDlg again;
    EXPECT_EQ(Boxes(again), (QStringList{"19200", "8", "NONE", "2"}));
    EXPECT_EQ(SettingsStore().ReadSettingString("PROTOCOL", "profile"), "Plain 8N1");
    // A typed frame the line cannot take is refused at Start, before the port.
    auto* dataBits = again.Item<QComboBox>(CTransferDlg::kDataBitsBox);
    dataBits->setEditText("9");
    QTest::mouseClick(again.Item<QAbstractButton>(CTransferDlg::kStart), Qt::LeftButton);
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_TRUE(m_prompts.messages[0].text.startsWith("纸带协议设置无法使用：Frame: “9N2”"))
        << m_prompts.messages[0].text.toStdString();
    EXPECT_FALSE(again.Session().IsActive());
}

// Every control a person can reach with the keyboard, as a screen reader finds it.
void CollectFocusable(QAccessibleInterface* item, QList<QAccessibleInterface*>& found)
{
    if (item->state().focusable && qobject_cast<QWidget*>(item->object()))
        found.append(item);
    for (int i = 0; i < item->childCount(); ++i)
        CollectFocusable(item->child(i), found);
}

// What a screen reader says a control is: on Linux Qt names a choice by its
// value and points to its label, whose words name it.
QString SpokenName(QAccessibleInterface* item)
{
    if (item->role() == QAccessible::ComboBox) {
        const auto labels = item->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    }
    return item->text(QAccessible::Name);
}

TEST_F(TapeDialog, TheProfileWindowNamesEveryControlInTheDialogsLanguage)
{
    CTransferDlg dlg;
    dlg.show();
    ASSERT_TRUE(Press(dlg, {kProtocol[0], "Mitsubishi"}));
    QStringList names[2];
    for (int language : {0, 1}) {
        dlg.MenuCommand(dlg.Language(),
                        language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        CTapeProfileDlg* window = OpenWindow(dlg);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), language == 0 ? "纸带配置" : "Tape profile");
        QList<QAccessibleInterface*> focusable;
        CollectFocusable(QAccessible::queryAccessibleInterface(window), focusable);
        // The name, 11 settings, OK and Cancel, and the lists of the 5 choices.
        EXPECT_EQ(focusable.size(), 19);
        QList<QWidget*> buddies;
        for (QLabel* label : window->findChildren<QLabel*>())
            buddies << label->buddy();
        for (QAccessibleInterface* item : focusable) {
            auto* widget = qobject_cast<QWidget*>(item->object());
            names[language] << SpokenName(item);
            if (widget->parentWidget() == window && !qobject_cast<QAbstractButton*>(widget)) {
                EXPECT_TRUE(buddies.contains(widget)) << names[language].last().toStdString();
            }
        }
        QTest::keyClick(window, Qt::Key_Escape);
        EXPECT_TRUE(WaitFor([&] { return !dlg.findChild<CTapeProfileDlg*>(); }));
    }
    ASSERT_EQ(names[0].size(), names[1].size());
    for (qsizetype i = 0; i < names[0].size(); ++i) {
        EXPECT_FALSE(names[1][i].trimmed().isEmpty()) << i;
        EXPECT_NE(names[0][i], names[1][i]) << names[1][i].toStdString() << " in Chinese";
    }
}

// The Start-at window the Protocol menu opened, active for the keyboard.
CFeedStartDlg* OpenFeedStart(CTransferDlg& dlg)
{
    if (!Press(dlg, {kProtocol[dlg.Language()], kFeedStart[dlg.Language()]}))
        return nullptr;
    auto* window = dlg.findChild<CFeedStartDlg*>();
    if (window) {
        window->activateWindow();
        EXPECT_TRUE(WaitFor([&] { return QApplication::activeWindow() == window; }));
    }
    return window;
}

// Types text into the control that Alt+key reaches, replacing what it held.
void TypeAt(QWidget* window, Qt::Key key, const QString& text)
{
    QTest::keyClick(window, key, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), text);
}

TEST_F(TapeDialog, TheStartAtWindowHoldsARestartForTheNextStartsFirstFile)
{
    QTemporaryDir files;
    const QString first = QDir(files.path()).filePath("mould.nc");
    const QString second = QDir(files.path()).filePath("die.nc");
    const QString preamble = QDir(files.path()).filePath("setup.nc");
    QFile setup(preamble);
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
    setup.write("G90 G54\nT5 M6\n");
    setup.close();
    CTransferDlg dlg;
    dlg.show();
    dlg.Item<QComboBox>(CTransferDlg::kPortBox)->setEditText("/dev/no-such-tty");
    dlg.FileList()->AppendRow(0, first);
    dlg.FileList()->AppendRow(1, second);
    ASSERT_TRUE(Press(dlg, {kProtocol[0], "Plain 8N1"}));

    // Every control is named and reached with the keyboard, in both languages.
    for (int language : {1, 0}) {
        dlg.MenuCommand(dlg.Language(),
                        language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        CFeedStartDlg* window = OpenFeedStart(dlg);
        ASSERT_NE(window, nullptr);
        QList<QAccessibleInterface*> focusable;
        CollectFocusable(QAccessible::queryAccessibleInterface(window), focusable);
        EXPECT_EQ(focusable.size(), 9); // 3 choices, block, line, preamble, browse, OK, Cancel
        QStringList names;
        for (QAccessibleInterface* item : focusable)
            names << item->text(QAccessible::Name);
        EXPECT_FALSE(names.contains(QString())) << names.join('|').toStdString();
        EXPECT_TRUE(names.contains(language == 0 ? "程序段号" : "Block number"));
        for (QLabel* label : window->findChildren<QLabel*>())
            EXPECT_TRUE(!label->buddy() ||
                        focusable.contains(QAccessible::queryAccessibleInterface(label->buddy())));
        if (language == 0)
            break; // the window stays open for the rows below
        QTest::keyClick(window, Qt::Key_Escape);
        ASSERT_TRUE(WaitFor([&] { return !dlg.findChild<CFeedStartDlg*>(); }));
    }

    // A block number that is none is refused with the reason, the window stays.
    auto* window = dlg.findChild<CFeedStartDlg*>();
    TypeAt(window, Qt::Key_N, "X12");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_TRUE(m_prompts.messages[0].text.startsWith(QStringLiteral("“X12”不是程序段号")))
        << m_prompts.messages[0].text.toStdString();
    EXPECT_TRUE(window->isVisible());
    TypeAt(window, Qt::Key_N, "n41200");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return !dlg.findChild<CFeedStartDlg*>(); }));
    EXPECT_EQ(dlg.Feed().Pending(), (FeedStartChoice{FeedRestart::By::Block, 41200, {}}));
    EXPECT_EQ(dlg.ProgressBar()->GetCaption(), QStringLiteral("下次开始：从程序段 N41200 开始"));
    EXPECT_FALSE(dlg.FeedRestartFor(first)) << "not before Start";

    // A line and a preamble: a file that cannot be read is refused, a browsed one taken.
    dlg.MenuCommand(0, CTransferDlg::kCmdEnglish)->trigger();
    window = OpenFeedStart(dlg);
    ASSERT_NE(window, nullptr);
    TypeAt(window, Qt::Key_E, "51234");
    TypeAt(window, Qt::Key_P, preamble + ".gone");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(m_prompts.messages.size(), 2);
    EXPECT_EQ(m_prompts.messages[1].text, "The preamble cannot be used: the preamble file " +
                                              preamble + ".gone does not exist");
    m_prompts.files = {preamble};
    QTest::keyClick(window, Qt::Key_W, Qt::AltModifier); // a button's key clicks it a moment later
    ASSERT_TRUE(WaitFor([&] { return m_prompts.fileRequests.size() == 1; }));
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return !dlg.findChild<CFeedStartDlg*>(); }));
    EXPECT_EQ(dlg.Feed().Pending(), (FeedStartChoice{FeedRestart::By::Line, 51234, preamble}));
    EXPECT_EQ(dlg.ProgressBar()->GetCaption(),
              "Next Start: from line 51,234, preamble from setup.nc");

    // The preamble is read at Start: gone by then, the Start is refused
    // before the line is touched and the choice waits.
    ASSERT_TRUE(QFile::rename(preamble, preamble + ".moved"));
    QTest::mouseClick(dlg.Item<QAbstractButton>(CTransferDlg::kStart), Qt::LeftButton);
    ASSERT_EQ(m_prompts.messages.size(), 3);
    EXPECT_TRUE(m_prompts.messages[2].text.startsWith(
        "The feed cannot be prepared: the preamble file " + preamble));
    EXPECT_FALSE(dlg.Port().GetPortOpen());
    EXPECT_TRUE(dlg.Feed().Pending());

    // A Start feeds the first ticked file from its restart (%, the
    // preamble, the line onwards), the second from the top, and spends the choice.
    ASSERT_TRUE(QFile::rename(preamble + ".moved", preamble));
    QByteArray program = "%\n";
    for (int line = 2; line <= 51235; ++line)
        program += "N" + QByteArray::number(line) + " X1\n";
    QFile mould(first), die(second);
    ASSERT_TRUE(mould.open(QIODevice::WriteOnly) && die.open(QIODevice::WriteOnly));
    mould.write(program);
    die.write("%\nO2\nG0 X9\n%\n");
    mould.close();
    die.close();
    VirtualNullModem modem;
    ASSERT_TRUE(modem.Start()) << modem.LastError().toStdString();
    dlg.Item<QComboBox>(CTransferDlg::kPortBox)->setEditText(modem.PortA());
    TapePeer peer;
    ASSERT_TRUE(peer.Open(modem.PortB(), 9600));
    QTest::mouseClick(dlg.Item<QAbstractButton>(CTransferDlg::kStart), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return peer.got.contains("O2\r\nG0 X9\r\n%"); }, 20000))
        << m_prompts.Texts().join('|').toStdString();
    EXPECT_TRUE(peer.got.startsWith("%\r\nG90 G54\r\nT5 M6\r\nN51234 X1\r\nN51235 X1\r\n"))
        << peer.got.left(80).toStdString();
    EXPECT_FALSE(peer.got.contains("N51233"));
    ASSERT_TRUE(WaitFor([&] { return !dlg.Session().IsActive(); }, 20000));
    EXPECT_FALSE(dlg.Feed().Pending());
    EXPECT_FALSE(dlg.FeedRestartFor(first));
    // The feed's status is the bar's caption while the send runs, in the dialog's language.
    FeedStatus status;
    status.line = 51234;
    status.lines = 1804220;
    status.block = 41200;
    status.msSinceFlowChange = 3000;
    dlg.ShowFeedStatus(status);
    EXPECT_EQ(dlg.ProgressBar()->GetCaption(), "N41200, line 51,234 of 1,804,220, 3 s since XON");
    EXPECT_EQ(dlg.windowTitle(), dlg.ProgressBar()->GetCaption());
    dlg.MenuCommand(1, CTransferDlg::kCmdChinese)->trigger();
    EXPECT_TRUE(
        dlg.ProgressBar()->GetCaption().startsWith(QStringLiteral("程序段 N41200，第 51,234 行")))
        << dlg.ProgressBar()->GetCaption().toStdString();
    dlg.MenuCommand(0, CTransferDlg::kCmdEnglish)->trigger();
    dlg.EnableControls(true);
    EXPECT_EQ(dlg.ProgressBar()->GetCaption(), "Sending progress: 0%");
    EXPECT_TRUE(dlg.windowTitle().isEmpty());
}

TEST_F(TapeDialog, AChangedPresetIsSavedAsAnOwnProfileAndSurvivesARestart)
{
    // The operator's file: a comment, a profile of their own, a preset's row
    // that does not read.
    const QString ownPath = SettingsStore::TapeProfilesFilePath();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(ownPath).absolutePath()));
    const QByteArray own = "; lathes of hall B\n[Shop lathe]\nBaud=2400\n\n[haas]\nBaud=fast\n";
    QFile file(ownPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(own);
    file.close();
    {
        CTransferDlg dlg;
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        // The row that does not read is named once the window is there.
        ASSERT_TRUE(WaitFor([&] { return m_prompts.messages.size() == 1; }));
        EXPECT_TRUE(m_prompts.messages[0].text.contains("第 6 行：Baud: “fast”不是整数"))
            << m_prompts.messages[0].text.toStdString();
        EXPECT_EQ(MenuItem(dlg, {kProtocol[0], "Haas"}), nullptr) << "the broken row's preset";
        ASSERT_TRUE(Press(dlg, {kProtocol[0], "Shop lathe"}));
        EXPECT_EQ(dlg.Item<QComboBox>(CTransferDlg::kBaudBox)->currentText(), "2400");
        ASSERT_TRUE(Press(dlg, {kProtocol[0], "Fanuc ISO"}));
        dlg.MenuCommand(0, CTransferDlg::kCmdEnglish)->trigger();
        CTapeProfileDlg* window = OpenWindow(dlg);
        ASSERT_NE(window, nullptr);
        // EIA with a 7E2 frame cannot work: said in the dialog's language, the window stays.
        QTest::keyClick(window, Qt::Key_C, Qt::AltModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        ASSERT_EQ(m_prompts.messages.size(), 2);
        EXPECT_TRUE(m_prompts.messages[1].text.startsWith(
            "The tape profile cannot be used: Frame: EIA carries"));
        EXPECT_TRUE(window->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up); // ISO again
        QTest::keyClick(window, Qt::Key_L, Qt::AltModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), "120");
        QTest::keyClick(window, Qt::Key_V, Qt::AltModifier); // the TV check box
        ASSERT_TRUE(WaitFor([&] { return window->Profile().tvCheck; }));
        QTest::keyClick(window, Qt::Key_N, Qt::AltModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        ASSERT_TRUE(WaitFor([&] { return !dlg.findChild<CTapeProfileDlg*>(); }));
        EXPECT_EQ(m_prompts.messages.size(), 2);
        ASSERT_TRUE(dlg.TapeLine());
        EXPECT_EQ(dlg.TapeLine()->leader, 120);
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    EXPECT_TRUE(saved.startsWith(own)) << saved.toStdString(); // the other rows as they were
    EXPECT_TRUE(saved.contains("[Fanuc ISO]\nBaud=4800\nFrame=7E2\n"));

    m_prompts.messages.clear();
    CTransferDlg again;
    const std::optional<TapeProfile> line = again.TapeLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->name, "Fanuc ISO");
    EXPECT_EQ(line->leader, 120);
    EXPECT_TRUE(line->tvCheck);
    EXPECT_EQ(line->code, TapeCodeKind::Iso);
    EXPECT_TRUE(line->source.startsWith("Set by the operator, from: FANUC"));
    // The own copy stands in the preset's place: one Fanuc ISO, checked;
    // Shop lathe is added, Haas left out.
    EXPECT_TRUE(MenuItem(again, {kProtocol[0], "Fanuc ISO"})->state().checked);
    EXPECT_EQ(again.Protocol().Profiles().size(), TapeProfileFile::Presets().size());
}

TEST_F(TapeDialog, ATapeReceiveCountsWhatArrivesAndSavesTheProgram)
{
    VirtualNullModem modem;
    modem.SetPaced(true);
    ASSERT_TRUE(modem.Start()) << modem.LastError().toStdString();
    QTemporaryDir files;
    const QString target = QDir(files.path()).filePath("punched.nc");
    {
        CTransferDlg dlg;
        dlg.show();
        dlg.Item<QComboBox>(CTransferDlg::kPortBox)->setEditText(modem.PortA());
        ASSERT_TRUE(Press(dlg, {kProtocol[0], "Plain 8N1"}));
        QTest::mouseClick(dlg.Item<QRadioButton>(CTransferDlg::kReceiveRadio), Qt::LeftButton);
        dlg.Item<QComboBox>(CTransferDlg::kPathBox)->setEditText(target);
        TapePeer peer;
        ASSERT_TRUE(peer.Open(modem.PortB(), 9600));
        QTest::mouseClick(dlg.Item<QAbstractButton>(CTransferDlg::kStart), Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return dlg.Port().GetPortOpen(); }));
        const QByteArray program = "%\r\nO0042\r\nG00 X1\r\nM30\r\n%\r\n";
        peer.port.SetOutput(program);
        ASSERT_TRUE(WaitFor([&] { return !dlg.Session().IsActive(); }, 20000));
        QFile got(target);
        ASSERT_TRUE(got.open(QIODevice::ReadOnly));
        EXPECT_EQ(got.readAll(), "%\nO0042\nG00 X1\nM30\n%\n");
        // The program ends at its closing %: what follows is not counted.
        const qsizetype bytes = program.lastIndexOf('%') + 1;
        EXPECT_EQ(dlg.ProgressBar()->GetCaption(), LoadString(246).arg(5).arg(bytes));
        EXPECT_FALSE(dlg.GetDlgItem(CTransferDlg::kAnnouncedBaud)->isVisible());
        EXPECT_EQ(dlg.Item<QComboBox>(CTransferDlg::kBaudBox)->currentText(), "9600");
        dlg.MenuCommand(0, CTransferDlg::kCmdEnglish)->trigger();
        EXPECT_EQ(dlg.ProgressBar()->GetCaption(), LoadString(247).arg(5).arg(bytes));
        peer.port.SetPortOpen(false);
    }
    modem.Stop();
}

} // namespace
