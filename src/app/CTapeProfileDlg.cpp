// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CTapeProfileDlg.h"

#include "resources/StringTable.h"
#include "settings/OwnTapeProfiles.h"
#include "transfer/SessionMessages.h"
#include "transfer/TapeProfileFile.h"
#include "ui/PromptSeam.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace tapeway;
using tapeway::messages::kBadProfileEn;
using tapeway::messages::kBadProfileZh;

namespace {

constexpr int kCannotSaveZh = 260;
constexpr int kCannotSaveEn = 261;
constexpr int kReplaceZh = 262;
constexpr int kReplaceEn = 263;

// Where an own copy's settings come from, ahead of what the original said.
const QString kOperatorSource = QStringLiteral("Set by the operator");

struct Text
{
    const char* text[2];        // Chinese, English: the caption ('&' marks the key)
    const char* name[2];        // what a screen reader calls the control
    const char* description[2]; // nullptr: none
};

enum Row
{
    kNameRow,
    kLineRow,
    kHandshakeRow,
    kCodeRow,
    kEobRow,
    kStartOnRow,
    kLeaderRow,
    kTrailerRow,
    kDcRow,
    kEndRow,
    kIdleRow,
    kSavedEolRow,
    kTvRow,
    kRowCount
};

constexpr Text kTexts[kRowCount] = {
    {{"名称(&N)", "&Name"},
     {"名称", "Name"},
     {"以新名称保存为自己的配置；预设的名称则替换该预设",
      "Saved as your own profile under a new name; a preset's name replaces the preset"}},
    {{"波特率与数据格式", "Speed and frame"},
     {"波特率与数据格式", "Speed and frame"},
     {"在主窗口中设置", "Set in the main window"}},
    {{"流量控制(&F)", "&Flow control"}, {"流量控制", "Flow control"}, {nullptr, nullptr}},
    {{"代码(&C)", "&Code"}, {"代码", "Code"}, {"纸带代码", "The tape code"}},
    {{"程序段结束(&E)", "&End of block"},
     {"程序段结束", "End of block"},
     {"发送时每个程序段末尾的字符", "What ends each block of a send"}},
    {{"收到 XON 后开始发送(&X)", "Start sending on &XON"},
     {"收到 XON 后开始发送", "Start sending on XON"},
     {"控制器发出 XON（DC1）后才开始发送", "A send waits for the controller's XON (DC1)"}},
    {{"引导 NUL 个数(&L)", "&Leader NULs"},
     {"引导 NUL 个数", "Leader NULs"},
     {"程序前发送的 NUL 个数", "NULs sent before the program"}},
    {{"结尾 NUL 个数(&T)", "&Trailer NULs"},
     {"结尾 NUL 个数", "Trailer NULs"},
     {"程序后发送的 NUL 个数", "NULs sent after the program"}},
    {{"发送 DC 码（前 DC2，后 DC4）(&D)", "Send &DC codes (DC2 before, DC4 after)"},
     {"发送 DC 码", "Send DC codes"},
     {"程序前发送 DC2，程序后发送 DC4", "DC2 goes before the program, DC4 after it"}},
    {{"接收结束于(&R)", "&Receive ends at"},
     {"接收结束于", "Receive ends at"},
     {"结尾的 %，或无数据达到空闲时间", "The closing %, or the idle time without data"}},
    {{"空闲时间(&I)", "&Idle time"},
     {"空闲时间", "Idle time"},
     {"程序结束前无数据超过此时间则接收失败；按空闲结束时即为结束",
      "Silence this long before the program ended fails a receive, or ends it with the idle "
      "rule"}},
    {{"保存的行结束(&S)", "&Saved line end"},
     {"保存的行结束", "Saved line end"},
     {"接收的程序存入文件时的行结束", "The line end of a received program's file"}},
    {{"TV 校验(&V)", "T&V check"},
     {"TV 校验", "TV check"},
     {"每个程序段的字符数必须为偶数", "Every block must have an even number of characters"}},
};

constexpr const char* kTitle[2] = {"纸带配置", "Tape profile"};
constexpr const char* kOk[2] = {"确定", "OK"};
constexpr const char* kCancel[2] = {"取消", "Cancel"};
constexpr const char* kNoFlowControl[2] = {"无", "None"};
constexpr const char* kClosingPercent[2] = {"结尾的 %", "The closing %"};
constexpr const char* kIdleEnd[2] = {"空闲时间", "The idle time"};
constexpr const char* kSeconds[2] = {" 秒", " s"};
constexpr const char* kLineNote[2] = {"%1，%2（在主窗口中设置）",
                                      "%1, %2 (set in the main window)"};

QString Utf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

QComboBox* NewChoice(QWidget* parent, const QStringList& items)
{
    auto* box = new QComboBox(parent);
    box->addItems(items);
    return box;
}

QSpinBox* NewCount(QWidget* parent, int lowest, int highest)
{
    auto* box = new QSpinBox(parent);
    box->setRange(lowest, highest);
    return box;
}

} // namespace

CTapeProfileDlg::CTapeProfileDlg(const TapeProfile& line, const QList<TapeProfile>& offered,
                                 int language, QWidget* parent)
    : QDialog(parent), m_line(line), m_offered(offered), m_language(language == 0 ? 0 : 1)
{
    if (parent)
        setFont(parent->font()); // a window does not take its parent's font by itself
    CreateControls();
    ApplyTexts();
    ShowProfile(line);
}

void CTapeProfileDlg::CreateControls()
{
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_name = new QLineEdit(this);
    m_lineText = new QLabel(this);
    m_handshake = NewChoice(this, {QStringLiteral("XON/XOFF"), QStringLiteral("RTS/CTS"), {}});
    m_code = NewChoice(this, {QStringLiteral("ISO"), QStringLiteral("EIA")});
    m_endOfBlock =
        NewChoice(this, {QStringLiteral("LF"), QStringLiteral("CR LF"), QStringLiteral("CR")});
    m_startOnXon = new QCheckBox(this);
    m_leader = NewCount(this, 0, TapeProfile::kMaxNuls);
    m_trailer = NewCount(this, 0, TapeProfile::kMaxNuls);
    m_dcCodes = new QCheckBox(this);
    m_endRule = NewChoice(this, {{}, {}});
    m_idle = NewCount(this, 1, TapeProfile::kMaxIdleSeconds);
    m_savedLineEnd = NewChoice(this, {QStringLiteral("LF"), QStringLiteral("CR LF")});
    m_tvCheck = new QCheckBox(this);
    // The rows in the order of the table of texts; a check box is its own label.
    QWidget* const fields[kRowCount] = {
        m_name,    m_lineText, m_handshake, m_code, m_endOfBlock,   m_startOnXon, m_leader,
        m_trailer, m_dcCodes,  m_endRule,   m_idle, m_savedLineEnd, m_tvCheck};
    for (int row = 0; row < kRowCount; ++row) {
        if (qobject_cast<QCheckBox*>(fields[row])) {
            m_labels << nullptr;
            form->addRow(fields[row]);
            continue;
        }
        auto* label = new QLabel(this);
        label->setBuddy(fields[row]);
        m_labels << label;
        form->addRow(label, fields[row]);
    }
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CTapeProfileDlg::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &CTapeProfileDlg::reject);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(form);
    outer->addWidget(m_buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);
}

void CTapeProfileDlg::ApplyTexts()
{
    const int lang = m_language;
    setWindowTitle(Utf8(kTitle[lang]));
    setAccessibleName(Utf8(kTitle[lang]));
    QWidget* const fields[kRowCount] = {
        m_name,    m_lineText, m_handshake, m_code, m_endOfBlock,   m_startOnXon, m_leader,
        m_trailer, m_dcCodes,  m_endRule,   m_idle, m_savedLineEnd, m_tvCheck};
    for (int row = 0; row < kRowCount; ++row) {
        const Text& text = kTexts[row];
        if (auto* box = qobject_cast<QCheckBox*>(fields[row]))
            box->setText(Utf8(text.text[lang]));
        else
            m_labels[row]->setText(Utf8(text.text[lang]));
        // A choice is read through its drop-down list too.
        QList<QWidget*> parts{fields[row]};
        if (auto* box = qobject_cast<QComboBox*>(fields[row]))
            parts << box->view();
        for (QWidget* part : parts) {
            part->setAccessibleName(Utf8(text.name[lang]));
            part->setAccessibleDescription(Utf8(text.description[lang]));
        }
    }
    m_handshake->setItemText(2, Utf8(kNoFlowControl[lang]));
    m_endRule->setItemText(0, Utf8(kClosingPercent[lang]));
    m_endRule->setItemText(1, Utf8(kIdleEnd[lang]));
    m_idle->setSuffix(Utf8(kSeconds[lang]));
    m_lineText->setText(
        Utf8(kLineNote[lang]).arg(QString::number(m_line.baud), m_line.FrameText()));
    m_buttons->button(QDialogButtonBox::Ok)->setText(Utf8(kOk[lang]));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(Utf8(kCancel[lang]));
}

void CTapeProfileDlg::ShowProfile(const TapeProfile& p)
{
    m_name->setText(p.name);
    m_handshake->setCurrentIndex(int(p.handshake));
    m_code->setCurrentIndex(p.code == TapeCodeKind::Eia ? 1 : 0);
    m_endOfBlock->setCurrentIndex(int(p.endOfBlock));
    m_startOnXon->setChecked(p.startOn == TapeProfile::StartOn::Xon);
    m_leader->setValue(p.leader);
    m_trailer->setValue(p.trailer);
    m_dcCodes->setChecked(p.dcCodes);
    m_endRule->setCurrentIndex(int(p.endRule));
    m_idle->setValue(p.idleSeconds);
    m_savedLineEnd->setCurrentIndex(int(p.savedLineEnd));
    m_tvCheck->setChecked(p.tvCheck);
}

TapeProfile CTapeProfileDlg::Profile() const
{
    TapeProfile p = m_line;
    p.name = m_name->text().trimmed();
    p.handshake = TapeProfile::Handshake(m_handshake->currentIndex());
    p.code = m_code->currentIndex() == 1 ? TapeCodeKind::Eia : TapeCodeKind::Iso;
    p.endOfBlock = TapeProfile::EndOfBlock(m_endOfBlock->currentIndex());
    p.startOn = m_startOnXon->isChecked() ? TapeProfile::StartOn::Xon : TapeProfile::StartOn::Now;
    p.leader = m_leader->value();
    p.trailer = m_trailer->value();
    p.dcCodes = m_dcCodes->isChecked();
    p.endRule = TapeProfile::EndRule(m_endRule->currentIndex());
    p.idleSeconds = m_idle->value();
    p.savedLineEnd = TapeProfile::SavedLineEnd(m_savedLineEnd->currentIndex());
    p.tvCheck = m_tvCheck->isChecked();
    return p;
}

void CTapeProfileDlg::accept()
{
    TapeProfile profile = Profile();
    if (const auto problem = profile.Validate()) {
        PromptSeam::ShowMessage(
            this,
            LocalText(m_language, kBadProfileZh, kBadProfileEn).arg(problem->Message(m_language)));
        return;
    }
    const std::optional<TapeProfile> offered = TapeProfileFile::Find(m_offered, m_line.name);
    if (offered && profile == *offered) {
        QDialog::accept(); // nothing changed: nothing to save
        return;
    }
    // Another profile's name: that one would be replaced.
    if (profile.name.compare(m_line.name.trimmed(), Qt::CaseInsensitive) != 0 &&
        TapeProfileFile::Find(m_offered, profile.name) &&
        !PromptSeam::AskYesNo(this,
                              LocalText(m_language, kReplaceZh, kReplaceEn).arg(profile.name)))
        return;
    if (!profile.source.startsWith(kOperatorSource))
        profile.source = profile.source.isEmpty()
                             ? kOperatorSource
                             : kOperatorSource + QStringLiteral(", from: ") + profile.source;
    TapeProfileProblem problem;
    if (!OwnTapeProfiles().Save(profile, &problem)) {
        PromptSeam::ShowMessage(
            this,
            LocalText(m_language, kCannotSaveZh, kCannotSaveEn).arg(problem.Message(m_language)));
        return;
    }
    m_line = profile;
    m_saved = true;
    QDialog::accept();
}
