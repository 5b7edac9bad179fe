// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/FeedSnapshotCopy.h"

#include <QDialog>
#include <optional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Where the operator wants the next tape send to start within its program:
// a block number or a line of the file, and perhaps a preamble file of the
// operator's in place of the program's own setup lines.
struct FeedStartChoice
{
    tapeway::FeedRestart::By by = tapeway::FeedRestart::By::Block;
    qint64 number = 0;
    QString preambleFile; // empty: the program's own lines before its first axis word

    bool operator==(const FeedStartChoice&) const = default;
};

// The Start-at window of the Protocol menu: from the top, at a block (N41200)
// or at a line, and an optional preamble file. OK checks the block number
// and that the preamble file can be read, and says why not in the dialog's
// language; the window stays open then.
class CFeedStartDlg : public QDialog
{
    Q_OBJECT
public:
    CFeedStartDlg(const std::optional<FeedStartChoice>& current, int language,
                  QWidget* parent = nullptr);

    // After OK: the choice, nothing for a feed from the top.
    const std::optional<FeedStartChoice>& Choice() const { return m_choice; }

    void accept() override;

private:
    void CreateControls();
    void ApplyTexts();
    void ShowChoice(const std::optional<FeedStartChoice>& choice);
    void FollowChoice();
    void OnBrowse();
    void Refuse(QWidget* field, const QString& reason);

    int m_language = 0;
    std::optional<FeedStartChoice> m_choice;
    QLabel* m_intro = nullptr;
    QRadioButton* m_fromTop = nullptr;
    QRadioButton* m_atBlock = nullptr;
    QRadioButton* m_atLine = nullptr;
    QLabel* m_blockLabel = nullptr;
    QLineEdit* m_block = nullptr;
    QLabel* m_lineLabel = nullptr;
    QSpinBox* m_line = nullptr;
    QLabel* m_preambleLabel = nullptr;
    QLineEdit* m_preamble = nullptr;
    QPushButton* m_browse = nullptr;
    QLabel* m_preambleNote = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};
