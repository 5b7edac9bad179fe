// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CHistoryDlg.h"
#include "app/CTransferDlg.h"
#include "app/DialogJournal.h"
#include "journal/SqlJournal.h"
#include "serial/VirtualNullModem.h"
#include "support/ScriptedPrompts.h"
#include "support/WaitFor.h"
#include "transfer/SimulatedController.h"
#include "transfer/TransferSession.h"
#include "ui/CPercentBar.h"
#include "ui/FileListView.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <iostream>

using namespace tapeway;

namespace {

// The dialog on one end of a paced null-modem, with settings and files in
// temporary directories.
class DialogTransfers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        qputenv("TAPEWAY_JOURNAL", ("sqlite:" + m_config.filePath("journal.sqlite")).toUtf8());
        m_modem.SetPaced(true);
        ASSERT_TRUE(m_modem.Start()) << m_modem.LastError().toStdString();
        m_dialog = std::make_unique<CTransferDlg>();
        m_dialog->show();
        m_dialog->Item<QComboBox>(CTransferDlg::kPortBox)->setEditText(m_modem.PortA());
    }

    void TearDown() override
    {
        m_dialog.reset();
        m_modem.Stop();
        qunsetenv("TAPEWAY_JOURNAL");
    }

    // Receives data from a controller at the far end into target.
    void Receive(const QString& target, const QByteArray& data)
    {
        SimulatedController controller(m_modem.PortB());
        ASSERT_TRUE(controller.SendFiles(QList<QByteArray>{data}, 38400));
        ChooseReceive(target);
        PressStart();
        ASSERT_TRUE(WaitFor([&] { return !m_dialog->Session().IsActive(); }, 20000));
    }

    QString Path(const QString& name) const { return QDir(m_files.path()).filePath(name); }

    void ChooseReceive(const QString& target)
    {
        QTest::mouseClick(m_dialog->Item<QRadioButton>(CTransferDlg::kReceiveRadio),
                          Qt::LeftButton);
        m_dialog->Item<QComboBox>(CTransferDlg::kPathBox)->setEditText(target);
    }

    void PressStart() { QTest::mouseClick(m_dialog->Item<QAbstractButton>(1), Qt::LeftButton); }

    static void Write(const QString& path, const QByteArray& data)
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(data);
    }
    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_config;
    QTemporaryDir m_files;
    VirtualNullModem m_modem;
    ScriptedPrompts m_prompts;
    std::unique_ptr<CTransferDlg> m_dialog;
};

TEST_F(DialogTransfers, EscEndsLikeExitThenCloses)
{
    ChooseReceive(Path("partial.nc"));
    PressStart();
    ASSERT_TRUE(m_dialog->Session().IsActive());
    ASSERT_TRUE(QFileInfo::exists(Path("partial.nc")));
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(m_dialog->Session().IsActive());
    EXPECT_FALSE(QFileInfo::exists(Path("partial.nc"))); // nothing left behind
}

TEST_F(DialogTransfers, CloseBoxAndExitRemoveWhatTheReceiveCreated)
{
    for (bool viaExit : {false, true}) {
        const QString fresh = Path(viaExit ? "exit.nc" : "close.nc");
        m_dialog = std::make_unique<CTransferDlg>();
        m_dialog->show();
        m_dialog->Item<QComboBox>(CTransferDlg::kPortBox)->setEditText(m_modem.PortA());
        ChooseReceive(fresh);
        PressStart();
        ASSERT_TRUE(QFileInfo::exists(fresh));
        if (viaExit)
            QTest::mouseClick(m_dialog->Item<QAbstractButton>(CTransferDlg::kExit), Qt::LeftButton);
        else
            m_dialog->close();
        EXPECT_FALSE(m_dialog->isVisible());
        EXPECT_FALSE(QFileInfo::exists(fresh)) << viaExit;
        if (viaExit) {
            EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
        }
    }
}

TEST_F(DialogTransfers, ClosingDuringAReplaceKeepsTheOldFileAndDropsTheStaging)
{
    const QString target =
        Path(QStringLiteral("keep%1.nc").arg(QCoreApplication::applicationPid()));
    Write(target, "old");
    ChooseReceive(target);
    PressStart();
    ASSERT_EQ(m_prompts.messages.size(), 1); // the overwrite question
    EXPECT_TRUE(m_prompts.messages[0].yesNo);
    const QString staging = m_dialog->Session().StagingFileName();
    ASSERT_TRUE(QFileInfo::exists(staging));
    m_dialog->close();
    EXPECT_FALSE(QFileInfo::exists(staging));
    EXPECT_EQ(Read(target), "old");
}

TEST_F(DialogTransfers, ReceiveShowsTheAnnouncedSpeedThenDefaultAgain)
{
    SimulatedController controller(m_modem.PortB());
    QByteArray data(3000, 'G');
    ASSERT_TRUE(controller.SendFiles(QList<QByteArray>{data}, 19200));
    ChooseReceive(Path("in.nc"));
    PressStart();
    auto* announced = m_dialog->Item<QLabel>(CTransferDlg::kAnnouncedBaud);
    auto* baud = m_dialog->Item<QComboBox>(CTransferDlg::kBaudBox);
    ASSERT_TRUE(WaitFor([&] { return announced->isVisible(); }, 10000));
    EXPECT_EQ(announced->text(), "19200");
    EXPECT_FALSE(baud->isVisible());
    EXPECT_EQ(m_dialog->ProgressBar()->GetCaption().left(5), "接收进度：");
    EXPECT_FALSE(m_dialog->MenuCommand(0, CTransferDlg::kCmdEnglish)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !m_dialog->Session().IsActive(); }, 20000));
    EXPECT_EQ(m_prompts.Texts(), QStringList{"接收数据成功!"});
    EXPECT_EQ(Read(Path("in.nc")), data);
    EXPECT_TRUE(baud->isVisible());
    EXPECT_FALSE(announced->isVisible());
    EXPECT_EQ(baud->currentText(), "默认");
    EXPECT_FALSE(baud->isEnabled());
    EXPECT_EQ(m_dialog->ProgressBar()->GetPos(), 0);
    // The path went into the history: the next dialog offers it first.
    CTransferDlg next;
    EXPECT_EQ(next.Item<QComboBox>(CTransferDlg::kPathBox)->itemText(0), Path("in.nc"));
}

TEST_F(DialogTransfers, SendBatchShowsEachRowsOutcome)
{
    SimulatedController controller(m_modem.PortB());
    QTemporaryDir in;
    ASSERT_TRUE(controller.ReceiveFiles(in.path(), 1));
    Write(Path("a.nc"), QByteArray(1500, 'A'));
    Write(Path("empty.nc"), "");
    auto* list = m_dialog->FileList();
    list->AppendRow(0, Path("empty.nc"));
    list->AppendRow(1, Path("a.nc"));
    m_dialog->Item<QComboBox>(CTransferDlg::kBaudBox)->setCurrentIndex(2);
    PressStart();
    EXPECT_EQ(list->GetRowState(0), "文件没有内容!");
    EXPECT_EQ(list->GetRowState(1), "开始");
    EXPECT_FALSE(m_dialog->GetDlgItem(CTransferDlg::kFileList)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return list->GetRowState(1) == "完成"; }, 20000))
        << list->GetRowState(1).toStdString() << " active " << m_dialog->Session().IsActive();
    ASSERT_TRUE(WaitFor([&] { return m_dialog->GetDlgItem(1)->isEnabled(); }, 5000));
    // The controller stores the file once it has checked it.
    const QString stored = QDir(in.path()).filePath("O0001.nc");
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(stored); }, 10000));
    EXPECT_EQ(Read(stored), QByteArray(1500, 'A'));
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(DialogTransfers, SendStartExplainsWhatStopsIt)
{
    // Files chosen with the browse button are a new batch.
    Write(Path("a.nc"), "G00 X0\n");
    m_prompts.files = {Path("a.nc")};
    m_dialog->Session().SetRowCursor(3); // where an earlier batch stopped
    QTest::mouseClick(m_dialog->Item<QAbstractButton>(CTransferDlg::kBrowse), Qt::LeftButton);
    EXPECT_EQ(m_dialog->Session().RowCursor(), 0);

    // A typed speed that is no number, or one the port cannot take: refused
    // before the line is touched. Then a port that is not there: the reason on
    // the second line, and the row says why it was not sent.
    auto* baud = m_dialog->Item<QComboBox>(CTransferDlg::kBaudBox);
    auto* port = m_dialog->Item<QComboBox>(CTransferDlg::kPortBox);
    struct Case
    {
        QString baud, port, message, rowState, hint;
    };
    for (const Case& c :
         {Case{"96OO", m_modem.PortA(), "波特率必须是正整数。\n96OO", "", ""},
          Case{"12345", m_modem.PortA(), "端口无法设置为此波特率。\n12345", "", ""},
          Case{"9600", Path("no-such-port"), "无法打开端口！\n", "无法打开端口！", ""},
          Case{"9600", "/dev/null", "无法打开端口！\n", "无法打开端口！", "/dev/null 不是串口"}}) {
        m_prompts.messages.clear();
        baud->setEditText(c.baud);
        port->setEditText(c.port);
        PressStart();
        ASSERT_FALSE(m_prompts.messages.isEmpty()) << c.baud.toStdString();
        EXPECT_TRUE(m_prompts.messages[0].text.startsWith(c.message))
            << m_prompts.messages[0].text.toStdString();
        EXPECT_FALSE(m_prompts.messages[0].text.section(u'\n', 1).isEmpty()) << "the reason";
        EXPECT_TRUE(m_prompts.messages[0].text.contains(c.hint) &&
                    !m_prompts.messages[0].text.contains("其他程序"))
            << m_prompts.messages[0].text.toStdString();
        EXPECT_EQ(m_dialog->FileList()->GetRowState(0), c.rowState);
        EXPECT_EQ(m_dialog->Session().RowCursor(), 0); // the next Start begins with the row
        EXPECT_EQ(m_modem.BytesForwarded(VirtualNullModem::AToB), 0);
    }
}

TEST_F(DialogTransfers, ReceiveChecksGiveTheirReasonsInTheDialogsLanguage)
{
    QDir(m_files.path()).mkdir("folder.nc");
    Write(Path("read-only.nc"), "old");
    QFile::setPermissions(Path("read-only.nc"), QFile::ReadOwner);
    const bool root = QFileInfo(Path("read-only.nc")).isWritable(); // root writes anyway
    struct Case
    {
        int language;
        QString target, reason;
    };
    for (const Case& c :
         {Case{0, Path("missing/a.nc"), "文件夹不存在：" + Path("missing")},
          Case{1, Path("missing/a.nc"), "No such folder: " + Path("missing")},
          Case{0, Path("folder.nc"), "不是普通文件：" + Path("folder.nc")},
          Case{0, Path("read-only.nc"), "文件无法写入：" + Path("read-only.nc")},
          Case{1, Path("read-only.nc"), "The file cannot be written: " + Path("read-only.nc")}}) {
        if (root && c.target == Path("read-only.nc")) {
            std::cerr << "row not run as root (root writes a read-only file)\n";
            continue;
        }
        m_dialog
            ->MenuCommand(m_dialog->Language(),
                          c.language == 0 ? CTransferDlg::kCmdChinese : CTransferDlg::kCmdEnglish)
            ->trigger();
        m_prompts.messages.clear();
        ChooseReceive(c.target);
        PressStart();
        ASSERT_EQ(m_prompts.messages.size(), 1) << c.target.toStdString();
        EXPECT_EQ(m_prompts.messages[0].text.section(u'\n', 1).toStdString(),
                  c.reason.toStdString())
            << m_prompts.messages[0].text.toStdString();
    }
}

TEST_F(DialogTransfers, HistoryShowsEachRecordFiltersAndExportsWhatItShows)
{
    // Opened during a receive, the window shows the record once written.
    m_dialog->MenuCommand(0, CTransferDlg::kCmdHistory)->trigger();
    CHistoryDlg* history = m_dialog->Journal().History();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    const QByteArray data(2000, 'H');
    const QString target = Path("历史 \"O1\",a.nc");
    Receive(target, data);
    EXPECT_EQ(m_prompts.Texts(), QStringList{"接收数据成功!"});
    const QAbstractItemModel* model = history->Table()->model();
    ASSERT_TRUE(WaitFor([&] { return model->rowCount() == 1; }, 10000));
    const auto cell = [&](int column) { return model->index(0, column).data().toString(); };
    EXPECT_EQ(cell(CHistoryDlg::kPath), target);
    EXPECT_EQ(cell(CHistoryDlg::kOutcome), "已接收");
    EXPECT_EQ(cell(CHistoryDlg::kDirection), "接收");
    EXPECT_EQ(cell(CHistoryDlg::kBytes), "2000");
    EXPECT_EQ(cell(CHistoryDlg::kPort), m_modem.PortA());
    const QString sha = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    EXPECT_EQ(model->index(0, CHistoryDlg::kSha256).data(Qt::ToolTipRole).toString(), sha);

    // The filter looks at path and outcome, in either language.
    QLineEdit* filter = history->FilterBox();
    for (const auto& [text, rows] :
         {std::pair{"no such", 0}, std::pair{"历史", 1}, std::pair{"RECEIVED", 1},
          std::pair{"已接收", 1}, std::pair{"sent", 0}}) {
        QTest::keyClick(filter, Qt::Key_A, Qt::ControlModifier);
        // Chinese comes in through the input method.
        QInputMethodEvent typed;
        typed.setCommitString(QString::fromUtf8(text));
        QApplication::sendEvent(filter, &typed);
        EXPECT_EQ(model->rowCount(), rows) << text;
    }
    EXPECT_EQ(history->StatusLabel()->text(), "共 1 条记录，显示 0 条");

    // Export CSV writes the rows shown: none, then the one.
    m_prompts.saveFile = Path("out.csv");
    QTest::mouseClick(history->ExportButton(), Qt::LeftButton);
    EXPECT_EQ(Read(Path("out.csv")).count('\n'), 1);
    QTest::keyClick(filter, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(filter, Qt::Key_Delete);
    QTest::mouseClick(history->ExportButton(), Qt::LeftButton);
    const QByteArray csv = Read(Path("out.csv"));
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBFstarted,ended,")) << csv.left(40).toStdString();
    EXPECT_TRUE(csv.contains(",receive," + m_modem.PortA().toUtf8() + ",38400,\"" +
                             Path("历史 \"\"O1\"\",a.nc").toUtf8() + "\",2000," + sha.toUtf8() +
                             ",received,"))
        << csv.toStdString();

    m_dialog->MenuCommand(0, CTransferDlg::kCmdEnglish)->trigger();
    EXPECT_EQ(history->windowTitle(), "History");
    EXPECT_EQ(model->headerData(CHistoryDlg::kOutcome, Qt::Horizontal).toString(), "Outcome");
    EXPECT_EQ(cell(CHistoryDlg::kOutcome), "Received");
    EXPECT_EQ(history->ExportButton()->accessibleName(), "Export CSV...");
}

TEST_F(DialogTransfers, AJournalThatFailsIsToldOnceAfterTheTransfersMessage)
{
    qputenv("TAPEWAY_JOURNAL", "postgresql://nobody@127.0.0.1:1/none");
    m_dialog = std::make_unique<CTransferDlg>();
    m_dialog->show();
    m_dialog->Item<QComboBox>(CTransferDlg::kPortBox)->setEditText(m_modem.PortA());
    Receive(Path("one.nc"), QByteArray(700, '1'));
    ASSERT_TRUE(WaitFor([&] { return m_prompts.messages.size() == 2; }, 10000));
    Receive(Path("two.nc"), QByteArray(800, '2'));
    ASSERT_TRUE(WaitFor([&] { return m_prompts.messages.size() == 3; }, 10000));
    EXPECT_FALSE(WaitFor([&] { return m_prompts.messages.size() > 3; }, 500));
    const QStringList texts = m_prompts.Texts();
    EXPECT_EQ(texts[0], "接收数据成功!");
    EXPECT_TRUE(texts[1].startsWith("传输记录无法写入") && texts[1].contains("127.0.0.1"))
        << texts[1].toStdString();
    EXPECT_EQ(texts[2], "接收数据成功!");

    // Both records wait in the local journal.
    SqlJournal local(JournalLocation::LocalDefault());
    JournalQuery query;
    query.pathContains = Path("");
    QString error;
    const auto records = local.Find(query, &error);
    ASSERT_TRUE(records) << error.toStdString();
    ASSERT_EQ(records->size(), 2);
    EXPECT_EQ(records->at(0).path, Path("two.nc"));
    EXPECT_TRUE(records->at(0).pending && records->at(1).pending);
}

} // namespace
