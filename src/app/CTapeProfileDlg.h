// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeProfile.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// The profile window: the chosen tape profile's settings beyond the line's
// speed and frame (which the main window's boxes set): its name, flow
// control, code, end of block, start on XON, leader and trailer, DC codes,
// how a receive ends, the idle time, the saved line end and the TV check.
// OK checks the settings; a changed profile is saved as one of the
// operator's own (OwnTapeProfiles), under its name: a preset's name gives
// the copy that replaces the preset, a new name a new profile.
class CTapeProfileDlg : public QDialog
{
    Q_OBJECT
public:
    // line: the chosen profile with the main window's speed and frame;
    // offered: the profiles the Protocol menu offers.
    CTapeProfileDlg(const tapeway::TapeProfile& line, const QList<tapeway::TapeProfile>& offered,
                    int language, QWidget* parent = nullptr);

    // The profile as the window sets it (after OK: as saved, when saved).
    tapeway::TapeProfile Profile() const;
    bool Saved() const { return m_saved; }

    void accept() override;

private:
    void CreateControls();
    void ApplyTexts();
    void ShowProfile(const tapeway::TapeProfile& profile);

    tapeway::TapeProfile m_line;
    QList<tapeway::TapeProfile> m_offered;
    int m_language = 0;
    bool m_saved = false;
    QList<QLabel*> m_labels;
    QLineEdit* m_name = nullptr;
    QLabel* m_lineText = nullptr;
    QComboBox* m_handshake = nullptr;
    QComboBox* m_code = nullptr;
    QComboBox* m_endOfBlock = nullptr;
    QCheckBox* m_startOnXon = nullptr;
    QSpinBox* m_leader = nullptr;
    QSpinBox* m_trailer = nullptr;
    QCheckBox* m_dcCodes = nullptr;
    QComboBox* m_endRule = nullptr;
    QSpinBox* m_idle = nullptr;
    QComboBox* m_savedLineEnd = nullptr;
    QCheckBox* m_tvCheck = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};
