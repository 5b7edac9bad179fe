// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog's line protocol: the link boxes of the packet protocol or of the
// chosen tape profile, the line a tape transfer speaks, the profile window,
// and what a tape receive has brought so far. The Protocol menu and the
// choice are DialogProtocol's.
#include "app/CTapeProfileDlg.h"
#include "app/CTransferDlg.h"
#include "app/DialogProtocol.h"
#include "resources/StringTable.h"
#include "transfer/SessionMessages.h"
#include "transfer/TapeProfileFile.h"
#include "ui/CPercentBar.h"
#include "ui/PromptSeam.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>

using namespace tapeway;
using tapeway::messages::kBadProfileEn;
using tapeway::messages::kBadProfileZh;

namespace {

constexpr int kArrivedZh = 246;
constexpr int kArrivedEn = 247;
constexpr int kProblemsZh = 264;
constexpr int kProblemsEn = 265;
constexpr int kProblemLineZh = 266;
constexpr int kProblemLineEn = 267;

// A tape line's parity words; the packet protocol's boxes keep their own.
const QStringList kTapeParities = {QStringLiteral("NONE"), QStringLiteral("EVEN"),
                                   QStringLiteral("ODD")};

// What a screen reader says of the baud box on a tape line, Chinese and English.
constexpr const char* kTapeBaudDescription[2] = {"线路的速度，发送和接收都用这个速度",
                                                 "The line's speed, for a send and a receive"};

QStringList Numbers(std::initializer_list<int> values)
{
    QStringList texts;
    for (int value : values)
        texts << QString::number(value);
    return texts;
}

void Fill(QComboBox* box, const QStringList& items, const QString& current)
{
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(qMax(0, int(items.indexOf(current))));
}

} // namespace

void CTransferDlg::FillLineBoxes()
{
    auto* baud = Item<QComboBox>(kBaudBox);
    auto* dataBits = Item<QComboBox>(kDataBitsBox);
    auto* parity = Item<QComboBox>(kParityBox);
    auto* stopBits = Item<QComboBox>(kStopBitsBox);
    const std::optional<TapeProfile>& tape = m_protocol->Chosen();
    if (!tape) {
        // The packet protocol's data phase: one of three speeds, 8N1 fixed.
        const int savedBaud = ReadSettingValue(QStringLiteral("BAUD"), 0);
        Fill(baud, Numbers({9600, 19200, 38400}), {});
        baud->setCurrentIndex(savedBaud >= 0 && savedBaud <= 2 ? savedBaud : 0);
        Fill(dataBits, Numbers({5, 6, 7, 8}), QStringLiteral("8"));
        Fill(parity, {QStringLiteral("NONE"), QStringLiteral("EVENT"), QStringLiteral("ODD")}, {});
        Fill(stopBits, {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}, {});
        for (QWidget* box : {dataBits, parity, stopBits})
            box->setEnabled(false);
        baud->setEnabled(!IsReceiveMode());
        if (IsReceiveMode())
            baud->setEditText(LocalText(177, 176));
        return;
    }
    // The speed and frame last set in the dialog, where they still make a line.
    TapeProfile line = *tape;
    bool number = false;
    const int storedBaud = m_protocol->StoredBaud().toInt(&number);
    if (number && TapeProfile::IsStandardBaud(storedBaud))
        line.baud = storedBaud;
    line.SetFrame(m_protocol->StoredFrame());
    Fill(baud, Numbers({110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}),
         QString::number(line.baud));
    Fill(dataBits, Numbers({7, 8}), QString::number(line.dataBits));
    Fill(parity, kTapeParities, kTapeParities.value(int(line.parity)));
    Fill(stopBits, Numbers({1, 2}), QString::number(line.stopBits));
    for (QWidget* box : {baud, dataBits, parity, stopBits})
        box->setEnabled(true);
}

void CTransferDlg::ApplyProtocol()
{
    if (m_arrivedShown) {
        // A count of the other protocol's receive is no longer this line's.
        m_arrivedShown = false;
        ProgressBar()->SetWindowText(QString());
        ProgressBar()->SetRange(0, 100);
        ProgressBar()->SetPos(0);
    }
    FillLineBoxes();
    ApplyAccessibleTexts(m_language);
    ShowFeedCaption();
}

void CTransferDlg::ApplyTapeAccessibleTexts(int language)
{
    if (!m_protocol->Chosen())
        return;
    auto* baud = Item<QComboBox>(kBaudBox);
    const QString description = QString::fromUtf8(kTapeBaudDescription[language == 0 ? 0 : 1]);
    for (QWidget* part : QList<QWidget*>{baud, baud->lineEdit(), baud->view()})
        if (part)
            part->setAccessibleDescription(description);
}

void CTransferDlg::OnLineBoxChanged()
{
    if (m_protocol->Chosen())
        m_protocol->StoreLine(Item<QComboBox>(kBaudBox)->currentText().trimmed(), TapeFrameText());
}

QString CTransferDlg::TapeFrameText() const
{
    // "7E2" from the three boxes: the parity box's word gives its first letter.
    return Item<QComboBox>(kDataBitsBox)->currentText().trimmed() +
           Item<QComboBox>(kParityBox)->currentText().trimmed().left(1) +
           Item<QComboBox>(kStopBitsBox)->currentText().trimmed();
}

std::optional<TapeProfile> CTransferDlg::TapeLine() const
{
    std::optional<TapeProfile> line = m_protocol->Chosen();
    if (!line)
        return line;
    // A typed speed that is no number reads as 0, which the profile refuses.
    line->baud = Item<QComboBox>(kBaudBox)->currentText().trimmed().toInt();
    line->SetFrame(TapeFrameText());
    return line;
}

bool CTransferDlg::CheckTapeBoxes()
{
    // Typed boxes that make no speed or frame are refused in the profile
    // file's own words, before the line is touched.
    if (!m_protocol->Chosen())
        return true;
    TapeProfile probe;
    TapeProfileProblem problem;
    if (TapeProfileFile::SetValue(probe, QStringLiteral("Baud"),
                                  Item<QComboBox>(kBaudBox)->currentText(), &problem) &&
        TapeProfileFile::SetValue(probe, QStringLiteral("Frame"), TapeFrameText(), &problem))
        return true;
    ShowMessage(kBadProfileZh, kBadProfileEn, problem.Message(m_language));
    return false;
}

void CTransferDlg::OnTapeProfileWindow()
{
    const std::optional<TapeProfile> line = TapeLine();
    if (!line || !CheckTapeBoxes())
        return;
    auto* window = new CTapeProfileDlg(*line, m_protocol->Profiles(), m_language, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &QDialog::accepted, this, [this, window] {
        const QString name = window->Profile().name;
        if (window->Saved())
            m_protocol->Reload();
        m_protocol->Choose(name);
    });
    window->open();
}

void CTransferDlg::ShowArrived(qint64 lines, qint64 bytes)
{
    m_arrivedLines = lines;
    m_arrivedBytes = bytes;
    ShowArrivedCaption();
}

void CTransferDlg::ShowArrivedCaption()
{
    ProgressBar()->SetWindowText(
        LocalText(kArrivedZh, kArrivedEn).arg(m_arrivedLines).arg(m_arrivedBytes));
}

void CTransferDlg::ShowProfileProblems()
{
    QString text = LocalText(kProblemsZh, kProblemsEn);
    text += u'\n' + QDir::toNativeSeparators(SettingsStore::TapeProfilesFilePath());
    for (const TapeProfileProblem& problem : m_protocol->Problems()) {
        const QString reason = problem.Message(m_language);
        text +=
            u'\n' + (problem.line > 0
                         ? LocalText(kProblemLineZh, kProblemLineEn).arg(problem.line).arg(reason)
                         : reason);
    }
    PromptSeam::ShowMessage(this, text);
}
