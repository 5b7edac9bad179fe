#include "app/CTransferDlg.h"

#include "app/DialogJournal.h"
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
#include "ui/PromptSeam.h"
#include "ui/ResourcePaths.h"
#include "ui/UiResources.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>

using namespace tapeway;

namespace {

constexpr int kDialogWidthDu = 308;
constexpr int kDialogHeightDu = 246;
constexpr int kPathCaretLimit = 52;

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

CTransferDlg::CTransferDlg(QWidget* parent) : QDialog(parent)
{
    m_icon = ProgramIcon();
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
    CreateMenus();
    CreateControls();
    BindMessages();
    OnInitDialog();
}

CTransferDlg::~CTransferDlg() = default;

bool CTransferDlg::InstallSerialControl()
{
    // No control to install here: the serial line is Qt's own. It is there
    // when the port layer knows its speeds.
    return !QSerialPortInfo::standardBaudRates().isEmpty();
}

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
    const char* aboutTitle[2] = {"关于", "Information"};
    for (int language = 0; language < 2; ++language) {
        auto* bar = new QMenuBar(this);
        QMenu* popup = bar->addMenu(QString::fromUtf8(popupTitle[language]));
        for (const Item& item : popupItems) {
            QAction* action = popup->addAction(QString::fromUtf8(item.text[language]));
            m_commands[language].insert(item.id, action);
        }
        m_commands[language].insert(kCmdAbout,
                                    bar->addAction(QString::fromUtf8(aboutTitle[language])));
        m_commands[language].insert(kCmdHistory, bar->addAction(LoadString(210 + language)));
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
    for (int id : {kCancel, kExit, kBrowse})
        Item<QPushButton>(id)->setAutoDefault(false);

    // Tab order follows the window's order of controls.
    setTabOrder(GetDlgItem(kPathBox), GetDlgItem(kBrowse));
}

void CTransferDlg::BindMessages()
{
    // Control notifications and menu commands, one line each.
    connect(Item<QAbstractButton>(kBrowse), &QAbstractButton::clicked, this,
            &CTransferDlg::OnBrowse);
    connect(Item<QAbstractButton>(kExit), &QAbstractButton::clicked, this, &CTransferDlg::OnExit);
    connect(Item<QAbstractButton>(kCancel), &QAbstractButton::clicked, this,
            &CTransferDlg::CancelTransfer);
    connect(Item<QAbstractButton>(kReceiveRadio), &QAbstractButton::clicked, this,
            &CTransferDlg::OnReceiveMode);
    connect(Item<QAbstractButton>(kSendRadio), &QAbstractButton::clicked, this,
            &CTransferDlg::OnSendMode);
    connect(Item<QAbstractButton>(kStart), &QAbstractButton::clicked, this,
            &CTransferDlg::StartTransfer);
    connect(Item<QComboBox>(kBaudBox), &QComboBox::activated, this, &CTransferDlg::OnBaudChanged);
    connect(Item<QComboBox>(kPortBox), &QComboBox::activated, this, &CTransferDlg::OnPortChanged);
    for (int language = 0; language < 2; ++language) {
        connect(m_commands[language][kCmdChinese], &QAction::triggered, this,
                &CTransferDlg::OnLanguageChinese);
        connect(m_commands[language][kCmdEnglish], &QAction::triggered, this,
                &CTransferDlg::OnLanguageEnglish);
        connect(m_commands[language][kCmdAbout], &QAction::triggered, this, &CTransferDlg::OnAbout);
        connect(m_commands[language][kCmdHistory], &QAction::triggered, m_journal,
                &DialogJournal::ShowHistory);
    }
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

    const int savedBaud = ReadSettingValue(QStringLiteral("BAUD"), 0);

    auto* list = FileList();
    QStringList titles;
    for (const char* title : kColumnTitles[0])
        titles << QString::fromUtf8(title);
    list->SetColumnTitles(titles);

    m_session->SetRowCursor(0);
    path->hide();
    Item<QWidget>(kContinuous)->hide();

    FillPortList();

    auto* baud = Item<QComboBox>(kBaudBox);
    baud->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400")});
    baud->setCurrentIndex(savedBaud >= 0 && savedBaud <= 2 ? savedBaud : 0);

    Item<QWidget>(kAnnouncedBaud)->hide();

    auto* dataBits = Item<QComboBox>(kDataBitsBox);
    dataBits->addItems(
        {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
    dataBits->setCurrentIndex(3);
    auto* parity = Item<QComboBox>(kParityBox);
    parity->addItems({QStringLiteral("NONE"), QStringLiteral("EVENT"), QStringLiteral("ODD")});
    parity->setCurrentIndex(0);
    auto* stopBits = Item<QComboBox>(kStopBitsBox);
    stopBits->addItems({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
    stopBits->setCurrentIndex(0);

    Item<QRadioButton>(kReceiveRadio)->setChecked(false);
    Item<QRadioButton>(kSendRadio)->setChecked(true);
    ApplyLayout();

    if (m_port->GetPortOpen())
        m_port->SetPortOpen(false);
    m_port->SetCommPort(Link().portName);
    m_port->SetInBufferSize(1024);
    m_port->SetOutBufferSize(1024);

    ApplyCaptions(m_language);
}

void CTransferDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_captionsApplied) {
        m_captionsApplied = true;
        ApplyCaptions(m_language);
    }
}

QWidget* CTransferDlg::GetDlgItem(int id) const
{
    return m_controls.value(id, nullptr);
}

QAction* CTransferDlg::MenuCommand(int language, int id) const
{
    return m_commands[language == 0 ? 0 : 1].value(id, nullptr);
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
    const QString text = Item<QComboBox>(kPortBox)->currentText();
    if (!text.isEmpty())
        WriteSettingValue(QStringLiteral("COM"), text);
}

void CTransferDlg::OnBaudChanged()
{
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
    Q_UNUSED(detail);
    PromptSeam::ShowMessage(this, LocalText(chineseId, englishId));
}

bool CTransferDlg::AskOverwrite(const QString& path)
{
    Q_UNUSED(path);
    return PromptSeam::AskYesNo(this, LocalText(138, 139));
}

void CTransferDlg::ApplyCaptions(int language)
{
    const int lang = language == 0 ? 0 : 1;
    m_journal->SetLanguage(lang);
    if (auto* bar = ProgressBar()) {
        bar->SetLanguage(lang);
        bar->repaint();
    }
    if (IsReceiveMode())
        Item<QComboBox>(kBaudBox)->setEditText(LocalText(177, 176));
    for (const Caption& caption : kCaptions)
        SetControlText(GetDlgItem(caption.id),
                       QString::fromUtf8(lang == 0 ? caption.chinese : caption.english));
    QStringList titles;
    for (const char* title : kColumnTitles[lang])
        titles << QString::fromUtf8(title);
    FileList()->SetColumnTitles(titles);
    Item<QCheckBox>(kContinuous)
        ->setText(lang == 0 ? QStringLiteral("继续接收") : QStringLiteral("Continue"));
}

void CTransferDlg::OnLanguageChinese()
{
    if (m_language == 0)
        return;
    m_language = 0;
    m_menus[1]->hide();
    m_menus[0]->show();
    ApplyCaptions(m_language);
}

void CTransferDlg::OnLanguageEnglish()
{
    if (m_language == 1)
        return;
    m_language = 1;
    m_menus[0]->hide();
    m_menus[1]->show();
    ApplyCaptions(m_language);
}

void CTransferDlg::OnAbout()
{
    CAboutBox about(this);
    about.SetLanguage(m_language);
    about.exec();
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
    auto* baud = Item<QComboBox>(kBaudBox);
    baud->setEnabled(false);
    baud->setEditText(LocalText(177, 176));
    ApplyLayout();
}

void CTransferDlg::OnSendMode()
{
    if (auto* bar = ProgressBar()) {
        bar->SetMode(0);
        bar->repaint();
    }
    auto* baud = Item<QComboBox>(kBaudBox);
    baud->setEnabled(true);
    baud->setEditText(baud->itemText(baud->currentIndex()));
    ApplyLayout();
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
}

// --------------------------------------------------------------- transfers

void CTransferDlg::StartTransfer()
{
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
    if (!IsReceiveMode())
        baud->setEnabled(enable);
    else if (enable)
        baud->setEditText(LocalText(177, 176)); // the announced speed goes again
    GetDlgItem(kAnnouncedBaud)->hide();
    for (int language = 0; language < 2; ++language)
        for (int id : {kCmdChinese, kCmdEnglish})
            m_commands[language][id]->setEnabled(enable);
}

void CTransferDlg::SetProgressRange(int lower, int upper)
{
    ProgressBar()->SetRange(lower, upper);
}

void CTransferDlg::SetProgressPos(int pos)
{
    ProgressBar()->SetPos(pos);
}

void CTransferDlg::ShowAnnouncedBaud(int baud)
{
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
        // Esc ends the dialog at once, without the clean-up of Exit.
        m_escaping = true;
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}
