// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/OwnTapeProfiles.h"

#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

namespace tapeway {

namespace {

// No profile file of an operator comes near this; a larger one is not read.
constexpr qint64 kMaxFileBytes = 1024 * 1024;
const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

// A reason in both languages; the system's own words are the same in both.
TapeProfileProblem Reason(const QString& en, const QString& zh)
{
    return TapeProfileProblem{QString(), QString(), en, zh, 0};
}

TapeProfileProblem SystemReason(const QString& path, const QString& words)
{
    const QString where = QDir::toNativeSeparators(path);
    return Reason(QStringLiteral("%1: %2").arg(where, words),
                  QStringLiteral("%1：%2").arg(where, words));
}

// The file's bytes; a missing file reads as empty. False when it exists
// but cannot be read whole.
bool ReadBytes(const QString& path, QByteArray* bytes, TapeProfileProblem* problem)
{
    QFile file(path);
    if (!file.exists()) {
        bytes->clear();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = SystemReason(path, file.errorString());
        return false;
    }
    *bytes = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *problem = SystemReason(path, file.errorString());
        return false;
    }
    if (bytes->size() > kMaxFileBytes) {
        const QString where = QDir::toNativeSeparators(path);
        *problem =
            Reason(QStringLiteral("%1 is larger than %2 bytes").arg(where).arg(kMaxFileBytes),
                   QStringLiteral("%1 超过 %2 字节").arg(where).arg(kMaxFileBytes));
        return false;
    }
    return true;
}

} // namespace

OwnTapeProfiles::OwnTapeProfiles(const QString& filePath) : m_filePath(filePath) {}

QString OwnTapeProfiles::FilePath() const
{
    return m_filePath.isEmpty() ? SettingsStore::TapeProfilesFilePath() : m_filePath;
}

TapeProfileFile::Result OwnTapeProfiles::Profiles() const
{
    QByteArray text;
    TapeProfileProblem problem;
    if (FilePath().isEmpty() || ReadBytes(FilePath(), &text, &problem))
        return TapeProfileFile::WithOwnProfiles(text);
    TapeProfileFile::Result result = TapeProfileFile::WithOwnProfiles({});
    result.problems << problem;
    return result;
}

QByteArray OwnTapeProfiles::WithSection(const QByteArray& text, const TapeProfile& profile)
{
    QByteArray body = text;
    const bool marked = body.startsWith(kByteOrderMark);
    if (marked)
        body.remove(0, kByteOrderMark.size());
    QByteArray kept;
    bool inSection = false;
    const QList<QByteArray> lines = body.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            inSection = line.mid(1, line.size() - 2)
                            .trimmed()
                            .compare(profile.name.trimmed(), Qt::CaseInsensitive) == 0;
        if (inSection)
            continue;
        kept += lines[i];
        if (i + 1 < lines.size())
            kept += '\n';
    }
    if (!kept.isEmpty() && !kept.endsWith('\n'))
        kept += '\n';
    if (!kept.trimmed().isEmpty() && !kept.endsWith("\n\n"))
        kept += '\n';
    return (marked ? kByteOrderMark : QByteArray()) + kept + TapeProfileFile::Write({profile});
}

bool OwnTapeProfiles::Save(const TapeProfile& profile, TapeProfileProblem* problem) const
{
    auto fail = [&](const TapeProfileProblem& why) {
        if (problem)
            *problem = why;
        return false;
    };
    const QString path = FilePath();
    if (path.isEmpty())
        return fail(Reason(QStringLiteral("there is no configuration folder"),
                           QStringLiteral("没有配置文件夹")));
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(Reason(
            QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(folder)),
            QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(folder))));
    // Another copy of the program saving at this moment: this save is given
    // up rather than waited for.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(0))
        return fail(
            Reason(QStringLiteral("another copy of the program is writing %1")
                       .arg(QDir::toNativeSeparators(path)),
                   QStringLiteral("另一个程序正在写入 %1").arg(QDir::toNativeSeparators(path))));
    QByteArray text;
    TapeProfileProblem unread;
    if (!ReadBytes(path, &text, &unread))
        return fail(unread); // never replace what could not be read
    const QByteArray bytes = WithSection(text, profile);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(SystemReason(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString words = file.errorString();
        file.cancelWriting();
        return fail(SystemReason(path, words));
    }
    if (!file.commit())
        return fail(SystemReason(path, file.errorString()));
    return true;
}

} // namespace tapeway
