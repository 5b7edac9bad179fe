// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CTransferDlg.h"

#include "app/DialogFeed.h"
#include "app/DialogJournal.h"
#include "app/DialogProtocol.h"
#include "resources/StringTable.h"
#include "serial/LinkSettings.h"
#include "serial/PortList.h"
#include "serial/SerialPort.h"
#include "settings/PathHistory.h"
#include "transfer/TransferSession.h"
#include "ui/CAboutBox.h"
#include "ui/CHoverButton.h"
#include "ui/CPercentBar.h"
#include "ui/DialogUnits.h"
#include "ui/FileListView.h"
#include "ui/LibraryTranslations.h"
#include "ui/PromptSeam.h"
#include "ui/ResourcePaths.h"
#include "ui/UiResources.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QTimer>

using namespace tapeway;

namespace {

constexpr int kPathCaretLimit = 52;

} // namespace

CTransferDlg::CTransferDlg(QWidget* parent) : QDialog(parent)
{
    m_icon = ProgramIcon();
    m_qtTexts = std::make_unique<LibraryTranslations>();
    m_qtTexts->SetLanguage(m_language);
    InstallSerialControl();
    m_dialogFont = DialogFont({QStringLiteral("宋体")}, 11);
    setFont(m_dialogFont);
    setWindowTitle(QString());
    setWindowIcon(m_icon);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    m_port = new SerialPort(this);
    m_session = std::make_unique<TransferSession>(*m_port, *this);
    m_journal = new DialogJournal(m_settings, this);
    m_protocol = new DialogProtocol(m_settings, this);
    m_feed = std::make_unique<DialogFeed>();
    CreateMenus();
    CreateControls();
    BindMessages();
    OnInitDialog();
}

CTransferDlg::~CTransferDlg()
{
    // The window hides after this body, and the port box may lose the focus
    // then, when there is no dialog left to store its text.
    Item<QComboBox>(kPortBox)->lineEdit()->disconnect(this);
}

bool CTransferDlg::InstallSerialControl()
{
    // No control to install here: the serial line is Qt's own. It is there
    // when the port layer knows its speeds.
    return !QSerialPortInfo::standardBaudRates().isEmpty();
}

void CTransferDlg::BindMessages()
{
    // Control notifications and menu commands, one line each.
    connect(Item<QAbstractButton>(kBrowse), &QAbstractButton::clicked, this,
            &CTransferDlg::OnBrowse);
    connect(Item<QAbstractButton>(kExit), &QAbstractButton::clicked, this, &CTransferDlg::OnExit);
    connect(Item<QAbstractButton>(kCancel), &QAbstractButton::clicked, this,
            &CTransferDlg::CancelTransfer);
    // The mode follows the radio buttons' state however it changed: a click,
    // the keyboard, an accessibility action or the program itself.
    connect(Item<QAbstractButton>(kReceiveRadio), &QAbstractButton::toggled, this,
            [this](bool checked) {
                if (checked)
                    OnReceiveMode();
            });
    connect(Item<QAbstractButton>(kSendRadio), &QAbstractButton::toggled, this,
            [this](bool checked) {
                if (checked)
                    OnSendMode();
            });
    connect(Item<QAbstractButton>(kStart), &QAbstractButton::clicked, this,
            &CTransferDlg::StartTransfer);
    connect(Item<QComboBox>(kBaudBox), &QComboBox::activated, this, &CTransferDlg::OnBaudChanged);
    connect(Item<QComboBox>(kPortBox), &QComboBox::activated, this, &CTransferDlg::OnPortChanged);
    // A typed port name counts once it is confirmed: Enter or leaving the box
    // (and Start).
    connect(Item<QComboBox>(kPortBox)->lineEdit(), &QLineEdit::editingFinished, this,
            &CTransferDlg::OnPortChanged);
    for (int language = 0; language < 2; ++language) {
        connect(m_commands[language][kCmdChinese], &QAction::triggered, this,
                &CTransferDlg::OnLanguageChinese);
        connect(m_commands[language][kCmdEnglish], &QAction::triggered, this,
                &CTransferDlg::OnLanguageEnglish);
        connect(m_commands[language][kCmdAbout], &QAction::triggered, this, &CTransferDlg::OnAbout);
        connect(m_commands[language][kCmdHistory], &QAction::triggered, m_journal,
                &DialogJournal::ShowHistory);
    }
    connect(m_protocol, &DialogProtocol::Changed, this, &CTransferDlg::ApplyProtocol);
    connect(m_protocol, &DialogProtocol::WindowRequested, this, &CTransferDlg::OnTapeProfileWindow);
    connect(m_protocol, &DialogProtocol::FeedStartRequested, this,
            &CTransferDlg::OnFeedStartWindow);
    for (int id : {kDataBitsBox, kParityBox, kStopBitsBox})
        connect(Item<QComboBox>(id), &QComboBox::activated, this, &CTransferDlg::OnLineBoxChanged);
    // The serial line's one event.
    connect(m_port, &SerialPort::OnComm, this, &CTransferDlg::OnComm);
}

void CTransferDlg::OnInitDialog()
{
    Item<QWidget>(kCancel)->setEnabled(false);
    Item<CHoverButton>(kBrowse)->SetIconImages(kIconBrowse, 0);

    LoadPathHistory();
    auto* path = Item<QComboBox>(kPathBox);
    ShowPathEnd();
    path->setEnabled(false);

    ApplyColumnTitles(0);

    m_session->SetRowCursor(0);
    path->hide();
    Item<QWidget>(kContinuous)->hide();

    FillPortList();

    Item<QWidget>(kAnnouncedBaud)->hide();

    // The baud rate and the frame of the packet protocol, or of the tape
    // profile chosen in the last run.
    m_protocol->Restore();
    FillLineBoxes();

    Item<QRadioButton>(kReceiveRadio)->setChecked(false);
    Item<QRadioButton>(kSendRadio)->setChecked(true);
    ApplyLayout();

    if (m_port->GetPortOpen())
        m_port->SetPortOpen(false);
    m_port->SetCommPort(Link().portName);
    m_port->SetInBufferSize(1024);
    m_port->SetOutBufferSize(1024);

    ApplyCaptions(m_language);
    // The window opens with the focus on Start, so that Enter starts; the
    // first control of the tab order would be Browse, which Enter would press.
    Item<QWidget>(kStart)->setFocus();
}

void CTransferDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_captionsApplied) {
        m_captionsApplied = true;
        ApplyCaptions(m_language);
        // Once the window is there: own profiles that are not offered, and why.
        if (!m_protocol->Problems().isEmpty())
            QTimer::singleShot(0, this, &CTransferDlg::ShowProfileProblems);
    }
}

QWidget* CTransferDlg::GetDlgItem(int id) const
{
    return m_controls.value(id, nullptr);
}

QAction* CTransferDlg::MenuCommand(int language, int id) const
{
    if (QAction* command = m_commands[language == 0 ? 0 : 1].value(id, nullptr))
        return command;
    return m_protocol->Command(language, id);
}

QMenuBar* CTransferDlg::CurrentMenu() const
{
    return m_menus[m_language == 0 ? 0 : 1];
}

FileListView* CTransferDlg::FileList() const
{
    return Item<FileListView>(kFileList);
}

CPercentBar* CTransferDlg::ProgressBar() const
{
    return Item<CPercentBar>(kProgress);
}

// ---------------------------------------------------------------- settings

int CTransferDlg::ReadSettingInt(const QString& section, const QString& key, int defaultValue) const
{
    return m_settings.ReadSettingInt(section, key, defaultValue);
}

QString CTransferDlg::ReadSettingString(const QString& section, const QString& key,
                                        const QString& defaultValue) const
{
    return m_settings.ReadSettingString(section, key, defaultValue);
}

void CTransferDlg::WriteSettingString(const QString& section, const QString& key,
                                      const QString& value)
{
    m_settings.WriteSettingString(section, key, value);
}

int CTransferDlg::ReadSettingValue(const QString& section, int defaultValue) const
{
    return m_settings.ReadSettingValue(section, defaultValue);
}

void CTransferDlg::WriteSettingValue(const QString& section, const QString& value)
{
    m_settings.WriteSettingValue(section, value);
}

void CTransferDlg::LoadPathHistory()
{
    const PathHistory history = tapeway::LoadPathHistory(m_settings);
    auto* path = Item<QComboBox>(kPathBox);
    path->addItems(history.entries);
    path->setCurrentIndex(history.selected);
    if (history.selected < 0)
        path->setEditText(QString());
}

void CTransferDlg::RememberPath(const QString& path)
{
    auto* box = Item<QComboBox>(kPathBox);
    const QString edit = box->currentText();
    if (tapeway::RememberPath(m_settings, path, box->count())) {
        box->addItem(path);
        box->setEditText(edit); // adding an entry leaves the typed text as it is
    }
}

void CTransferDlg::FillPortList()
{
    const QString saved = ReadSettingString(QStringLiteral("COM"), QStringLiteral("value"), {});
    const PortList ports = tapeway::FillPortList(DiscoverPorts(), saved);
    auto* box = Item<QComboBox>(kPortBox);
    box->addItems(ports.entries);
    box->setCurrentIndex(ports.selected);
}

void CTransferDlg::OnPortChanged()
{
    // Stored as the transfer uses it: any text, a device path or a network
    // address as much as a listed name.
    const QString text = Item<QComboBox>(kPortBox)->currentText().trimmed();
    if (!text.isEmpty() &&
        text != ReadSettingString(QStringLiteral("COM"), QStringLiteral("value"), {}))
        WriteSettingValue(QStringLiteral("COM"), text);
}

void CTransferDlg::OnBaudChanged()
{
    if (m_protocol->Chosen()) {
        OnLineBoxChanged();
        return;
    }
    WriteSettingValue(QStringLiteral("BAUD"),
                      QString::number(Item<QComboBox>(kBaudBox)->currentIndex()));
}

int CTransferDlg::SelectedPortNumber() const
{
    return qMax(0, PortNumberOf(Item<QComboBox>(kPortBox)->currentText()));
}

// ------------------------------------------------------------------- texts

QString CTransferDlg::LocalText(int chineseId, int englishId) const
{
    return tapeway::LocalText(m_language, chineseId, englishId);
}

void CTransferDlg::ShowMessage(int chineseId, int englishId, const QString& detail)
{
    // The fixed text first; the reason (and a hint) on the lines below.
    // A text that names its reason (%1) takes the detail's first line there.
    QString text = LocalText(chineseId, englishId);
    QString rest = detail;
    if (text.contains(QStringLiteral("%1")) && !rest.isEmpty()) {
        const qsizetype end = rest.indexOf(u'\n');
        text = text.arg(rest.left(end));
        rest = end < 0 ? QString() : rest.mid(end + 1);
    }
    if (!rest.isEmpty())
        text += u'\n' + rest;
    PromptSeam::ShowMessage(this, text);
}

bool CTransferDlg::AskOverwrite(const QString& path)
{
    return PromptSeam::AskYesNo(this, LocalText(138, 139) + u'\n' + QDir::toNativeSeparators(path));
}

void CTransferDlg::OnAbout()
{
    CAboutBox about(this);
    about.SetLanguage(m_language);
    about.exec();
}

void CTransferDlg::ShowPathEnd()
{
    auto* path = Item<QComboBox>(kPathBox);
    if (path->currentText().size() > kPathCaretLimit)
        path->lineEdit()->setCursorPosition(int(path->currentText().size()));
    else
        path->lineEdit()->setCursorPosition(0);
}

void CTransferDlg::OnBrowse()
{
    PromptSeam::FileRequest request;
#ifdef Q_OS_WIN
    const QString pattern = QStringLiteral("*.*");
#else
    const QString pattern = QStringLiteral("*"); // "*.*" would hide O1234 and its kind
#endif
    request.filter =
        (m_language == 1 ? QStringLiteral("CNC File(*.*)|") : QStringLiteral("CNC文件(*.*)|")) +
        pattern + QStringLiteral("||");
    request.defaultSuffix = QStringLiteral("cnc");
    if (IsReceiveMode()) {
        request.multiple = false;
        const QStringList chosen = PromptSeam::OpenFiles(this, request);
        if (chosen.isEmpty())
            return;
        Item<QComboBox>(kPathBox)->setEditText(chosen.first());
        ShowPathEnd();
        return;
    }
    request.multiple = true;
    const QStringList chosen = PromptSeam::OpenFiles(this, request);
    if (chosen.isEmpty())
        return;
    auto* list = FileList();
    list->RemoveAllRows();
    for (int i = 0; i < chosen.size(); ++i)
        list->AppendRow(i, chosen[i]);
    m_session->SetRowCursor(0); // new files are a new batch
}

// --------------------------------------------------------------- transfers

void CTransferDlg::StartTransfer()
{
    OnPortChanged(); // Start confirms a typed port name
    if (!CheckTapeBoxes() || !ArmFeed())
        return;
    m_session->StartTransfer();
}

void CTransferDlg::CancelTransfer()
{
    m_session->CancelTransfer();
}

void CTransferDlg::OnComm()
{
    m_session->OnComm();
}

bool CTransferDlg::IsReceiveMode() const
{
    return Item<QRadioButton>(kReceiveRadio)->isChecked();
}

bool CTransferDlg::IsContinuousChecked() const
{
    return Item<QCheckBox>(kContinuous)->isChecked();
}

QString CTransferDlg::BaudText() const
{
    return Item<QComboBox>(kBaudBox)->currentText();
}

LinkSettings CTransferDlg::Link() const
{
    LinkSettings link;
    link.portName = Item<QComboBox>(kPortBox)->currentText().trimmed();
    link.dataBits = Item<QComboBox>(kDataBitsBox)->currentText();
    link.parity = Item<QComboBox>(kParityBox)->currentText();
    link.stopBits = Item<QComboBox>(kStopBitsBox)->currentText();
    return link;
}

QString CTransferDlg::ReceiveTargetText() const
{
    return Item<QComboBox>(kPathBox)->currentText();
}

void CTransferDlg::SetReceiveTargetText(const QString& path)
{
    Item<QComboBox>(kPathBox)->setEditText(path);
}

void CTransferDlg::EnableControls(bool enable)
{
    for (int id :
         {kContinuous, kStart, kBrowse, kFileList, kPathBox, kReceiveRadio, kSendRadio, kPortBox})
        GetDlgItem(id)->setEnabled(enable);
    GetDlgItem(kCancel)->setEnabled(!enable);
    auto* baud = Item<QComboBox>(kBaudBox);
    baud->show();
    if (m_protocol->Chosen()) {
        // A tape line's speed and frame are the operator's in both directions.
        for (int id : {kBaudBox, kDataBitsBox, kParityBox, kStopBitsBox})
            GetDlgItem(id)->setEnabled(enable);
    } else if (!IsReceiveMode())
        baud->setEnabled(enable);
    else if (enable)
        baud->setEditText(LocalText(177, 176)); // the announced speed goes again
    GetDlgItem(kAnnouncedBaud)->hide();
    for (int language = 0; language < 2; ++language)
        for (int id : {kCmdChinese, kCmdEnglish})
            m_commands[language][id]->setEnabled(enable);
    m_protocol->SetEnabled(enable);
    if (enable) {
        m_feed->SessionEnded();
        m_feedStatus.reset();
        ShowFeedCaption();
    }
}

void CTransferDlg::SetProgressRange(int lower, int upper)
{
    // A tape receive does not know its length: the bar counts what arrives.
    m_arrivedShown = m_protocol->Chosen() && IsReceiveMode() && lower >= upper;
    if (m_arrivedShown) {
        m_arrivedLines = 0;
        m_arrivedBytes = 0;
        ProgressBar()->SetRange(0, 1); // an empty range would paint no caption
        ShowArrivedCaption();
        return;
    }
    m_feedStatus.reset(); // a new file's feed tells its own
    ProgressBar()->SetWindowText(QString());
    ProgressBar()->SetRange(lower, upper);
}

void CTransferDlg::SetProgressPos(int pos)
{
    if (m_arrivedShown)
        return; // the caption counts, the bar has no share to fill
    ProgressBar()->SetPos(pos);
}

void CTransferDlg::ShowAnnouncedBaud(int baud)
{
    if (m_protocol->Chosen())
        return; // the line's own speed, already in the baud box
    const QString text = QString::number(baud);
    auto* box = Item<QComboBox>(kBaudBox);
    box->setEditText(text);
    auto* announced = Item<QLabel>(kAnnouncedBaud);
    announced->setText(text);
    announced->show();
    box->hide();
}

QString CTransferDlg::NextCheckedFile(int& rowCursor)
{
    return FileList()->NextCheckedFile(rowCursor);
}

void CTransferDlg::ClearStateColumn()
{
    FileList()->ClearStateColumn();
}

void CTransferDlg::SetRowState(int row, const QString& text)
{
    FileList()->SetRowState(row, text);
}

void CTransferDlg::EnsureRowVisible(int row)
{
    FileList()->EnsureRowVisible(row);
}

void CTransferDlg::RepaintList()
{
    FileList()->viewport()->update();
}

void CTransferDlg::FileFinished(const FileReport& report)
{
    m_journal->Record(report, Link().portName);
    if (!report.receive)
        m_feed->FileEnded();
}

// ------------------------------------------------------------------ closing

void CTransferDlg::OnExit()
{
    m_session->CloseDownTransfer();
    accept();
}

void CTransferDlg::closeEvent(QCloseEvent* event)
{
    if (!m_escaping)
        m_session->CloseDownTransfer();
    QDialog::closeEvent(event);
}

void CTransferDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // Esc ends the dialog like Exit: what a running transfer created
        // goes, then the window closes.
        m_session->CloseDownTransfer();
        m_escaping = true;
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}
