// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transfer/TapeProfile.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <optional>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;

namespace tapeway {
class SettingsStore;
} // namespace tapeway

// The dialog's side of the line's protocol: the Protocol pop-up of both menu
// bars (the packet protocol or one tape profile, one checkable group, and the
// items that open the profile window and the window of where a tape send
// starts), the profiles it offers (the presets
// and the operator's own) and the choice. The choice is kept in RS232.ini,
// section PROTOCOL: value=packet or tape, profile=its name, and baud and
// frame, the tape line's speed and frame as last set in the dialog.
class DialogProtocol : public QObject
{
    Q_OBJECT
public:
    DialogProtocol(tapeway::SettingsStore& settings, QObject* parent);

    // Adds the Protocol pop-up at the end of the bar of the language (0
    // Chinese, otherwise English).
    void AddMenu(QMenuBar* bar, int language);
    // The choice of the last run when its profile is still offered, else
    // the packet protocol. Signals nothing.
    void Restore();

    // The chosen profile as offered, nothing for the packet protocol.
    const std::optional<tapeway::TapeProfile>& Chosen() const { return m_chosen; }
    const QList<tapeway::TapeProfile>& Profiles() const { return m_profiles; }
    // Why rows of the operator's own file are not offered.
    const QList<tapeway::TapeProfileProblem>& Problems() const { return m_problems; }

    // The tape line's speed and frame as stored ("9600", "7E2"); the
    // chosen profile's own until the operator changes them in the dialog.
    QString StoredBaud() const;
    QString StoredFrame() const;
    void StoreLine(const QString& baud, const QString& frame);

    // A command of the Protocol pop-up of the language; nullptr for an
    // unknown id. The profiles are CTransferDlg::kCmdTapeProfile + index.
    QAction* Command(int language, int id) const;
    QMenu* Menu(int language) const { return m_menus[language == 0 ? 0 : 1]; }
    // Whether the dialog is in Send mode: where a feed starts is offered then.
    void SetSending(bool sending);
    // The pop-up is locked while a session runs.
    void SetEnabled(bool enable);

    // Chooses the named profile (case ignored), the packet protocol for an
    // empty or unknown name, remembers it and signals Changed.
    void Choose(const QString& profileName);
    // Reads the operator's own profiles again and offers the new list.
    void Reload();

signals:
    void Changed();
    void WindowRequested();
    void FeedStartRequested();

private:
    void Load();
    void FillProfileItems(int language);
    void ShowChoice();

    tapeway::SettingsStore& m_settings;
    QList<tapeway::TapeProfile> m_profiles;
    QList<tapeway::TapeProfileProblem> m_problems;
    std::optional<tapeway::TapeProfile> m_chosen;
    bool m_sending = true;
    QMenu* m_menus[2] = {nullptr, nullptr};
    QActionGroup* m_groups[2] = {nullptr, nullptr};
    QAction* m_windowSeparators[2] = {nullptr, nullptr};
    QHash<int, QAction*> m_commands[2];
    QList<QAction*> m_profileItems[2];
};
