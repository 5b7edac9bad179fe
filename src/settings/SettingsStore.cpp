// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsStore.h"

#include "serial/LinkSettings.h"
#include "settings/IniDocument.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>
#include <chrono>
#include <mutex>
#include <optional>

namespace tapeway {

namespace {

const QString kFileName = QStringLiteral("RS232.ini");
const QString kValueKey = QStringLiteral("value");

// No settings file of ours comes near this; anything larger is not read.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

// A lock file left by a copy that died is taken over after this long.
constexpr int kStaleLockMs = 10000;

// Threads of this process take turns before they take the lock file.
QMutex& WriterMutex()
{
    static QMutex mutex;
    return mutex;
}

// The file's contents; nothing when it cannot be read or is too large.
// A missing file reads as empty.
std::optional<QByteArray> ReadFileBytes(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.read(kMaxFileBytes + 1);
    if (data.size() > kMaxFileBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

std::optional<QString> ReadRaw(const QString& path, const QString& section, const QString& key)
{
    const std::optional<QByteArray> data = ReadFileBytes(path);
    if (!data)
        return std::nullopt;
    return IniDocument::FromBytes(*data).Value(section, key);
}

// Cut to the profile buffer's length without splitting a surrogate pair.
QString CutString(const QString& text)
{
    if (text.size() <= SettingsStore::kMaxStringLength)
        return text;
    qsizetype length = SettingsStore::kMaxStringLength;
    if (text[length - 1].isHighSurrogate())
        --length;
    return text.left(length);
}

} // namespace

SettingsStore::SettingsStore(const QString& filePath) : m_filePath(filePath) {}

QString SettingsStore::FilePath() const
{
    return m_filePath.isEmpty() ? DefaultFilePath() : m_filePath;
}

QString SettingsStore::DefaultFilePath()
{
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (directory.isEmpty())
        return QString();
    return QDir(directory).filePath(kFileName);
}

QString SettingsStore::TapeProfilesFilePath()
{
    QString directory = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (directory.isEmpty())
        return QString();
    // The dialog's folder, whichever program asks: tapeway-cli and the
    // service share the operator's profiles with the dialog.
    const QString name = QCoreApplication::applicationName();
    if (!name.isEmpty() && name != QLatin1String("tapeway"))
        directory = QDir::cleanPath(directory + QStringLiteral("/../tapeway"));
    return QDir(directory).filePath(QStringLiteral("tape-profiles.ini"));
}

int SettingsStore::ReadSettingInt(const QString& section, const QString& key,
                                  int defaultValue) const
{
    const std::optional<QString> value = ReadRaw(FilePath(), section, key);
    if (!value || value->isEmpty())
        return defaultValue;
    return LeadingInt(*value);
}

QString SettingsStore::ReadSettingString(const QString& section, const QString& key,
                                         const QString& defaultValue) const
{
    const std::optional<QString> value = ReadRaw(FilePath(), section, key);
    return CutString(value ? *value : defaultValue);
}

bool SettingsStore::WriteSettingString(const QString& section, const QString& key,
                                       const QString& value)
{
    return WriteSettingStrings(section, {{key, value}});
}

int SettingsStore::ReadSettingValue(const QString& section, int defaultValue) const
{
    return ReadSettingInt(section, kValueKey, defaultValue);
}

bool SettingsStore::WriteSettingValue(const QString& section, const QString& value)
{
    return WriteSettingString(section, kValueKey, value);
}

bool SettingsStore::WriteSettingValue(const QString& section, int value)
{
    return WriteSettingValue(section, QString::number(value));
}

bool SettingsStore::WriteSettingStrings(const QString& section,
                                        const QList<std::pair<QString, QString>>& keyValues)
{
    for (const auto& [key, value] : keyValues) {
        if (!IniDocument::IsStorable(section, key, value))
            return false;
    }
    const QString path = FilePath();
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;

    QDeadlineTimer deadline(kLockTimeoutMs);
    std::unique_lock<QMutex> threadLock(WriterMutex(), std::defer_lock);
    if (!threadLock.try_lock_for(std::chrono::milliseconds(deadline.remainingTime())))
        return false;

    QLockFile fileLock(path + QStringLiteral(".lock"));
    fileLock.setStaleLockTime(kStaleLockMs);
    if (!fileLock.tryLock(int(deadline.remainingTime())))
        return false;

    const std::optional<QByteArray> data = ReadFileBytes(path);
    if (!data)
        return false; // never replace what could not be read
    IniDocument document = IniDocument::FromBytes(*data);
    for (const auto& [key, value] : keyValues)
        document.SetValue(section, key, value);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // commit() does not see a write that failed when the buffer was flushed
    // (a full disk): check it, so that a cut file never replaces the old one.
    const QByteArray bytes = document.ToBytes();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace tapeway
