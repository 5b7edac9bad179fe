// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/InboxPlacement.h"

#include "serve/FileMove.h"
#include "serve/InboxNaming.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tapeway {

namespace {

QString Stamp(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

} // namespace

InboxPlacement::InboxPlacement(const LineConfig& line)
    : m_line(line.name), m_inbox(line.inbox), m_approve(line.approve)
{
}

QString InboxPlacement::Folder(const QString& inbox, const char* which)
{
    return QDir(inbox).filePath(QString::fromLatin1(which));
}

QString InboxPlacement::Target() const
{
    return m_approve ? Folder(m_inbox, kPending) : m_inbox;
}

bool InboxPlacement::MakeFolder(const QString& inbox, const char* which, QString* error)
{
    const QString folder = Folder(inbox, which);
    const PathStatus status = StatPath(folder);
    if (status.isDir)
        return true;
    if (status.exists || status.isLink) {
        *error = QStringLiteral("%1 is not a folder").arg(DisplayPath(folder));
        return false;
    }
    if (!StatPath(inbox).isDir) {
        *error = QStringLiteral("the inbox %1 is gone").arg(DisplayPath(inbox));
        return false;
    }
    if (!QDir(inbox).mkdir(QString::fromLatin1(which)) && !StatPath(folder).isDir) {
        *error = QStringLiteral("cannot make the folder %1").arg(DisplayPath(folder));
        return false;
    }
    return true;
}

QString InboxPlacement::PlaceReceived(const QString& file, const QByteArray& data,
                                      const QDateTime& time, QString* error) const
{
    if (m_approve && !MakeFolder(m_inbox, kPending, error))
        return {};
    return MoveToFreeName(file, Target(), InboxFileName(data, m_line, time), error);
}

QString InboxPlacement::KeepFailed(const QString& kept, const QString& outcome,
                                   const QDateTime& time, QString* error) const
{
    if (m_inbox.isEmpty() || !MakeFolder(m_inbox, kFailed, error))
        return {};
    const QString name = QStringLiteral("%1-%2-%3").arg(m_line, Stamp(time), outcome);
    return MoveFile(kept, Folder(m_inbox, kFailed), name, OnTaken::NextFreeName, error);
}

QString InboxPlacement::NameRecovered(const QString& kept, const QDateTime& time) const
{
    // The copy is named after the placeholder, a hidden name: it gets the
    // name the program would have had in the inbox, after the line and time.
    QFile file(kept);
    if (!file.open(QIODevice::ReadOnly))
        return kept;
    const QByteArray data = file.readAll();
    file.close();
    const QString number = ProgramNumber(data);
    const QString name =
        QStringLiteral("%1-%2%3.nc")
            .arg(m_line, Stamp(time), number.isEmpty() ? QString() : u'-' + number);
    QString error;
    const QString placed = MoveToFreeName(kept, QFileInfo(kept).absolutePath(), name, &error);
    return placed.isEmpty() ? kept : placed;
}

} // namespace tapeway
