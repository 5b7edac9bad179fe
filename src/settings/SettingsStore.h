// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <utility>

namespace tapeway {

// RS232.ini: the chosen baud rate (section BAUD), the chosen port (COM) and
// the receive-path history (PATH), kept as plain INI text. Nothing is cached:
// every call reads or rewrites the file.
//
// Reads never fail: a missing, unreadable or nonsensical file, or a missing
// key, gives the default. Writes never report to the operator; they return
// false when the value was not stored (directory or file not writable, file
// unreadable or larger than any settings file, the lock held by another copy
// of the program for longer than kLockTimeoutMs, or a name or value with a
// line break in it) and the program simply goes on.
//
// Each write takes a lock file beside the settings file, reads the file,
// changes its lines and replaces the file as a whole, so copies of the program
// (and threads of one) writing at the same time lose nothing and a reader
// never sees a half-written file.
class SettingsStore
{
public:
    // Strings come back cut to this many characters.
    static constexpr int kMaxStringLength = 259;
    // How long a write waits for another writer before it is given up.
    static constexpr int kLockTimeoutMs = 2000;

    // The file in the per-user configuration directory, e.g.
    // ~/.config/tapeway/RS232.ini. The location is looked up at each access.
    SettingsStore() = default;
    // The given file instead.
    explicit SettingsStore(const QString& filePath);

    QString FilePath() const;
    // <AppConfigLocation>/RS232.ini, empty when there is no such location.
    static QString DefaultFilePath();
    // The operator's own tape profiles beside the dialog's RS232.ini (the
    // dialog's folder also for tapeway-cli and the service):
    // <AppConfigLocation>/tape-profiles.ini, empty when there is no such location.
    static QString TapeProfilesFilePath();

    // The key's value read by the private-profile integer rule (LeadingInt);
    // defaultValue when the key is missing or its value is empty.
    int ReadSettingInt(const QString& section, const QString& key, int defaultValue) const;
    // The key's value (defaultValue when the key is missing), cut to
    // kMaxStringLength characters. White space around the value and a pair
    // of enclosing quotes are not part of it.
    QString ReadSettingString(const QString& section, const QString& key,
                              const QString& defaultValue = QString()) const;
    bool WriteSettingString(const QString& section, const QString& key, const QString& value);

    // ReadSettingInt(section, "value", defaultValue).
    int ReadSettingValue(const QString& section, int defaultValue) const;
    // WriteSettingString(section, "value", value).
    bool WriteSettingValue(const QString& section, const QString& value);
    // The number in decimal.
    bool WriteSettingValue(const QString& section, int value);

    // Several keys of one section in one rewrite of the file, in order; all
    // of them or none are stored.
    bool WriteSettingStrings(const QString& section,
                             const QList<std::pair<QString, QString>>& keyValues);

private:
    QString m_filePath;
};

} // namespace tapeway
