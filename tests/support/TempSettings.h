// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/SettingsStore.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace tapeway {

// A settings store on an RS232.ini in a fresh temporary directory, removed
// again with this object. The file does not exist until written.
class TempSettings
{
public:
    TempSettings();

    SettingsStore& Store() { return m_store; }
    QString FilePath() const { return m_store.FilePath(); }
    QString DirPath() const { return m_dir.path(); }

    // Replaces the file's bytes, as if the file had been written by hand.
    void WriteFile(const QByteArray& bytes) const;
    // The file's bytes; empty when it does not exist.
    QByteArray ReadFile() const;

private:
    QTemporaryDir m_dir;
    SettingsStore m_store;
};

} // namespace tapeway
