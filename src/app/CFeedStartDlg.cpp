// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CFeedStartDlg.h"

#include "transfer/PreambleFile.h"
#include "transfer/RestartLocator.h"
#include "ui/PromptSeam.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <limits>

using namespace tapeway;

namespace {

struct Text
{
    const char* text[2];        // Chinese, English: the caption ('&' marks the key)
    const char* name[2];        // what a screen reader calls the control
    const char* description[2]; // nullptr: none
};

const Text kFromTop = {{"从头开始(&T)", "From the &top"},
                       {"从头开始", "From the top"},
                       {"整个程序从头送出", "The whole program goes out from its start"}};
const Text kAtBlock = {{"从程序段开始(&B)", "At a &block"},
                       {"从程序段开始", "At a block"},
                       {"从以该程序段号开头的行开始送出",
                        "The feed starts at the line that starts with the block number"}};
const Text kAtLine = {{"从行开始(&L)", "At a &line"},
                      {"从行开始", "At a line"},
                      {"从文件的该行开始送出", "The feed starts at that line of the file"}};
const Text kBlock = {{"程序段号(&N)", "Block &number"},
                     {"程序段号", "Block number"},
                     {"例如 N41200", "For example N41200"}};
const Text kLine = {{"行号(&E)", "Lin&e number"},
                    {"行号", "Line number"},
                    {"文件的行号，从 1 起", "A line of the file, from 1"}};
const Text kPreamble = {
    {"前导程序文件(&P)", "&Preamble file"},
    {"前导程序文件", "Preamble file"},
    {"在重新开始的程序段之前送出的准备段；留空则用程序中第一个含轴字的程序段之前的各行",
     "The setup lines sent before the restart block; empty: the program's lines before its "
     "first block with an axis word"}};
const Text kBrowse = {{"浏览(&W)...", "Bro&wse..."},
                      {"浏览前导程序文件", "Browse for the preamble file"},
                      {nullptr, nullptr}};

constexpr const char* kTitle[2] = {"开始位置", "Start at"};
constexpr const char* kIntro[2] = {"只用于下一次开始时第一个选中的文件。",
                                   "Holds for the next Start, for its first ticked file."};
constexpr const char* kPreambleNote[2] = {"留空：用程序中第一个含轴字的程序段之前的各行。",
                                          "Empty: the program's lines before its first block "
                                          "with an axis word."};
constexpr const char* kPreambleRefused[2] = {"前导程序无法使用：%1",
                                             "The preamble cannot be used: %1"};
constexpr const char* kOk[2] = {"确定", "OK"};
constexpr const char* kCancel[2] = {"取消", "Cancel"};
constexpr const char* kFilter[2] = {"CNC文件(*.*)|*||", "CNC File(*.*)|*||"};

QString Utf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

void Apply(QWidget* widget, const Text& text, int lang)
{
    widget->setAccessibleName(Utf8(text.name[lang]));
    widget->setAccessibleDescription(Utf8(text.description[lang]));
}

} // namespace

CFeedStartDlg::CFeedStartDlg(const std::optional<FeedStartChoice>& current, int language,
                             QWidget* parent)
    : QDialog(parent), m_language(language == 0 ? 0 : 1), m_choice(current)
{
    if (parent)
        setFont(parent->font()); // a window does not take its parent's font by itself
    CreateControls();
    ApplyTexts();
    ShowChoice(current);
}

void CFeedStartDlg::CreateControls()
{
    m_intro = new QLabel(this);
    m_fromTop = new QRadioButton(this);
    m_atBlock = new QRadioButton(this);
    m_atLine = new QRadioButton(this);
    auto* group = new QButtonGroup(this);
    for (QRadioButton* button : {m_fromTop, m_atBlock, m_atLine})
        group->addButton(button);

    m_block = new QLineEdit(this);
    m_block->setPlaceholderText(QStringLiteral("N41200"));
    m_line = new QSpinBox(this);
    m_line->setRange(1, std::numeric_limits<int>::max());
    m_preamble = new QLineEdit(this);
    m_browse = new QPushButton(this);
    m_browse->setAutoDefault(false);
    m_preambleNote = new QLabel(this);
    m_preambleNote->setWordWrap(true);

    m_blockLabel = new QLabel(this);
    m_blockLabel->setBuddy(m_block);
    m_lineLabel = new QLabel(this);
    m_lineLabel->setBuddy(m_line);
    m_preambleLabel = new QLabel(this);
    m_preambleLabel->setBuddy(m_preamble);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(m_blockLabel, m_block);
    form->addRow(m_lineLabel, m_line);
    auto* preambleRow = new QHBoxLayout;
    preambleRow->addWidget(m_preamble, 1);
    preambleRow->addWidget(m_browse);
    form->addRow(m_preambleLabel, preambleRow);
    form->addRow(QString(), m_preambleNote);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CFeedStartDlg::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &CFeedStartDlg::reject);

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(m_intro);
    outer->addWidget(m_fromTop);
    outer->addWidget(m_atBlock);
    outer->addWidget(m_atLine);
    outer->addLayout(form);
    outer->addWidget(m_buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    m_preamble->setMinimumWidth(m_preamble->fontMetrics().averageCharWidth() * 36);

    // Typing a block number or a line chooses that way of starting, so the
    // keyboard needs no second step; the preamble belongs to a restart only.
    connect(m_block, &QLineEdit::textEdited, m_atBlock, [this] { m_atBlock->setChecked(true); });
    connect(m_line, &QSpinBox::valueChanged, m_atLine, [this] {
        if (m_line->hasFocus())
            m_atLine->setChecked(true);
    });
    connect(group, &QButtonGroup::buttonToggled, this, &CFeedStartDlg::FollowChoice);
    connect(m_browse, &QPushButton::clicked, this, &CFeedStartDlg::OnBrowse);
}

void CFeedStartDlg::ApplyTexts()
{
    const int lang = m_language;
    setWindowTitle(Utf8(kTitle[lang]));
    setAccessibleName(Utf8(kTitle[lang]));
    m_intro->setText(Utf8(kIntro[lang]));
    const std::pair<QAbstractButton*, const Text*> buttons[] = {
        {m_fromTop, &kFromTop}, {m_atBlock, &kAtBlock}, {m_atLine, &kAtLine}, {m_browse, &kBrowse}};
    for (const auto& [button, text] : buttons) {
        button->setText(Utf8(text->text[lang]));
        Apply(button, *text, lang);
    }
    const std::tuple<QLabel*, QWidget*, const Text*> fields[] = {
        {m_blockLabel, m_block, &kBlock},
        {m_lineLabel, m_line, &kLine},
        {m_preambleLabel, m_preamble, &kPreamble}};
    for (const auto& [label, field, text] : fields) {
        label->setText(Utf8(text->text[lang]));
        Apply(field, *text, lang);
    }
    m_preambleNote->setText(Utf8(kPreambleNote[lang]));
    m_buttons->button(QDialogButtonBox::Ok)->setText(Utf8(kOk[lang]));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(Utf8(kCancel[lang]));
}

void CFeedStartDlg::ShowChoice(const std::optional<FeedStartChoice>& choice)
{
    if (!choice) {
        m_fromTop->setChecked(true);
    } else if (choice->by == FeedRestart::By::Block) {
        m_atBlock->setChecked(true);
        m_block->setText(QStringLiteral("N%1").arg(choice->number));
    } else {
        m_atLine->setChecked(true);
        m_line->setValue(int(qBound(qint64(1), choice->number, qint64(m_line->maximum()))));
    }
    if (choice)
        m_preamble->setText(choice->preambleFile);
    FollowChoice();
}

void CFeedStartDlg::FollowChoice()
{
    const bool restart = !m_fromTop->isChecked();
    for (QWidget* part : QList<QWidget*>{m_preambleLabel, m_preamble, m_browse, m_preambleNote})
        part->setEnabled(restart);
}

void CFeedStartDlg::OnBrowse()
{
    PromptSeam::FileRequest request;
    request.filter = Utf8(kFilter[m_language]);
    request.multiple = false;
    const QStringList chosen = PromptSeam::OpenFiles(this, request);
    if (!chosen.isEmpty())
        m_preamble->setText(chosen.first());
}

void CFeedStartDlg::Refuse(QWidget* field, const QString& reason)
{
    PromptSeam::ShowMessage(this, reason);
    field->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->selectAll();
}

void CFeedStartDlg::accept()
{
    if (m_fromTop->isChecked()) {
        m_choice.reset();
        QDialog::accept();
        return;
    }
    FeedStartChoice choice;
    if (m_atBlock->isChecked()) {
        const auto number = RestartLocator::ParseBlockNumber(m_block->text());
        if (const auto* problem = std::get_if<RestartProblem>(&number)) {
            Refuse(m_block, problem->Message(m_language));
            return;
        }
        choice.by = FeedRestart::By::Block;
        choice.number = std::get<qint64>(number);
    } else {
        choice.by = FeedRestart::By::Line;
        choice.number = m_line->value();
    }
    if (!m_preamble->text().trimmed().isEmpty()) {
        choice.preambleFile = m_preamble->text();
        const PreambleFile file = PreambleFile::Read(choice.preambleFile);
        if (!file.bytes) {
            Refuse(m_preamble, Utf8(kPreambleRefused[m_language]).arg(file.Message(m_language)));
            return;
        }
    }
    m_choice = choice;
    QDialog::accept();
}
