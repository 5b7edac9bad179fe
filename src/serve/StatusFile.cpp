// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/StatusFile.h"

#include "resources/StringTable.h"
#include "serve/ServeText.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tapeway {

namespace {

QString StatusName(const QString& configPath)
{
    return QFileInfo(configPath).completeBaseName() + QStringLiteral(".status.json");
}

QString ServiceRuntimeDir()
{
    const QString systemd = qEnvironmentVariable("RUNTIME_DIRECTORY").section(u':', 0, 0);
    if (!systemd.isEmpty())
        return systemd;
    const QString user = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!user.isEmpty())
        return QDir(user).filePath(QStringLiteral("tapeway"));
    return StatusFile::FallbackFolder();
}

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool IsFallback(const QString& folder)
{
    return QDir::cleanPath(folder) == QDir::cleanPath(StatusFile::FallbackFolder());
}

#ifdef Q_OS_UNIX
// The fallback folder as the service may use it: a real folder, this user's,
// mode 0700. Looked at without following a link.
bool CheckOwnFolder(const QString& folder, int language, QString* error)
{
    const auto refuse = [&](const QString& why) {
        *error = ServeText(language, ServeMessage::FolderRefused).arg(folder, why);
        return false;
    };
    struct stat info
    {
    };
    if (::lstat(EncodePath(folder).constData(), &info) != 0)
        return refuse(SystemReason(errno));
    if (S_ISLNK(info.st_mode))
        return refuse(ServeText(language, ServeMessage::FolderIsLink));
    if (!S_ISDIR(info.st_mode))
        return refuse(ServeText(language, ServeMessage::FolderNotDir));
    if (info.st_uid != ::geteuid())
        return refuse(
            ServeText(language, ServeMessage::FolderOwner).arg(info.st_uid).arg(::geteuid()));
    if ((info.st_mode & 07777) != 0700)
        return refuse(
            ServeText(language, ServeMessage::FolderMode)
                .arg(QStringLiteral("%1").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'))));
    return true;
}
#endif

QJsonObject TransferObject(const LineTransfer& transfer)
{
    return QJsonObject{
        {QStringLiteral("direction"),
         transfer.sent ? QStringLiteral("sent") : QStringLiteral("received")},
        {QStringLiteral("file"), transfer.file},
        {QStringLiteral("bytes"), transfer.bytes},
        {QStringLiteral("ok"), transfer.ok},
        {QStringLiteral("outcome"), transfer.outcome},
        // The outcome's stable code (as the journal has it), for readers in
        // another language than the service's.
        {QStringLiteral("code"), transfer.report.outcome},
        {QStringLiteral("finished"), transfer.finished.toString(Qt::ISODate)},
        {QStringLiteral("seconds"), double(transfer.elapsedMs) / 1000.0},
        {QStringLiteral("baud"), transfer.baud},
    };
}

QJsonObject FeedObject(const FeedStatus& feed)
{
    QJsonObject object{
        {QStringLiteral("line"), feed.line}, {QStringLiteral("lines"), feed.lines},
        {QStringLiteral("sent"), feed.sent}, {QStringLiteral("total"), feed.total},
        {QStringLiteral("held"), feed.held}, {QStringLiteral("waitingForXon"), feed.waitingForXon},
    };
    if (feed.block)
        object.insert(QStringLiteral("block"), *feed.block);
    if (feed.msSinceFlowChange)
        object.insert(QStringLiteral("msSinceFlowChange"), *feed.msSinceFlowChange);
    return object;
}

FeedStatus FeedFrom(const QJsonObject& object)
{
    FeedStatus feed;
    feed.line = object.value(QStringLiteral("line")).toInteger();
    feed.lines = object.value(QStringLiteral("lines")).toInteger();
    feed.sent = object.value(QStringLiteral("sent")).toInteger();
    feed.total = object.value(QStringLiteral("total")).toInteger();
    feed.held = object.value(QStringLiteral("held")).toBool();
    feed.waitingForXon = object.value(QStringLiteral("waitingForXon")).toBool();
    if (object.contains(QStringLiteral("block")))
        feed.block = object.value(QStringLiteral("block")).toInteger();
    if (object.contains(QStringLiteral("msSinceFlowChange")))
        feed.msSinceFlowChange = object.value(QStringLiteral("msSinceFlowChange")).toInteger();
    return feed;
}

ServeMessage StateWord(const QString& state)
{
    if (state == QStringLiteral("waiting"))
        return ServeMessage::StateWaiting;
    if (state == QStringLiteral("receiving"))
        return ServeMessage::StateReceiving;
    if (state == QStringLiteral("sending"))
        return ServeMessage::StateSending;
    if (state == QStringLiteral("error"))
        return ServeMessage::StateError;
    if (state == QStringLiteral("stopped"))
        return ServeMessage::StateStopped;
    return ServeMessage::StateConnecting;
}

} // namespace

QString StatusFile::PathFor(const QString& configPath, const QString& runtimeDir)
{
    const QString dir = runtimeDir.isEmpty() ? ServiceRuntimeDir() : runtimeDir;
    return QDir(dir).filePath(StatusName(configPath));
}

QString StatusFile::FallbackFolder()
{
#ifdef Q_OS_UNIX
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tapeway-%1").arg(::getuid()));
#else
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tapeway"));
#endif
}

bool StatusFile::PrepareFolder(const QString& statusPath, int language, QString* error)
{
    const QString folder = QFileInfo(statusPath).absolutePath();
#ifdef Q_OS_UNIX
    if (IsFallback(folder)) {
        // Made with its final mode at once: no moment in which another user
        // could open it. One that is there already is checked, never changed.
        if (::mkdir(EncodePath(folder).constData(), 0700) != 0 && errno != EEXIST) {
            *error =
                ServeText(language, ServeMessage::FolderRefused).arg(folder, SystemReason(errno));
            return false;
        }
        return CheckOwnFolder(folder, language, error);
    }
#endif
    if (!QDir().mkpath(folder)) // the writes fail then, and say so
        *error = QStringLiteral("cannot make the folder of the status file %1").arg(statusPath);
    return true;
}

bool StatusFile::TrustFolder(const QString& statusPath, int language, QString* error)
{
#ifdef Q_OS_UNIX
    const QString folder = QFileInfo(statusPath).absolutePath();
    if (IsFallback(folder))
        return CheckOwnFolder(folder, language, error);
#else
    Q_UNUSED(statusPath);
    Q_UNUSED(language);
    Q_UNUSED(error);
#endif
    return true;
}

QString StatusFile::FindFor(const QString& configPath, const QString& runtimeDir)
{
    const QString own = PathFor(configPath, runtimeDir);
    if (!runtimeDir.isEmpty() || QFileInfo::exists(own))
        return own;
    const QString system = QDir(QStringLiteral("/run/tapeway")).filePath(StatusName(configPath));
    return QFileInfo::exists(system) ? system : own;
}

QString StatusFile::StateName(ServeLine::State state)
{
    switch (state) {
    case ServeLine::State::Connecting:
        return QStringLiteral("connecting");
    case ServeLine::State::Waiting:
        return QStringLiteral("waiting");
    case ServeLine::State::Receiving:
        return QStringLiteral("receiving");
    case ServeLine::State::Sending:
        return QStringLiteral("sending");
    case ServeLine::State::Error:
        return QStringLiteral("error");
    case ServeLine::State::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

QJsonObject StatusFile::LineObject(const LineConfig& config, const ServeLine::Status& status)
{
    QJsonObject line{
        {QStringLiteral("name"), config.name},
        {QStringLiteral("port"), config.link.portName},
        {QStringLiteral("mode"), ModeName(config.mode)},
        {QStringLiteral("protocol"), config.ProtocolName()},
        {QStringLiteral("state"), StateName(status.state)},
    };
    if (config.tape)
        line.insert(QStringLiteral("profile"), config.tape->name);
    // A punched program's length is known only at its end: what arrived stands for the percentage.
    if (status.state == ServeLine::State::Receiving && config.tape)
        line.insert(QStringLiteral("bytes"), status.bytes);
    else if (status.state == ServeLine::State::Receiving ||
             status.state == ServeLine::State::Sending)
        line.insert(QStringLiteral("percent"), status.percent);
    if (!status.file.isEmpty())
        line.insert(QStringLiteral("file"), status.file);
    if (!status.error.isEmpty())
        line.insert(QStringLiteral("error"), status.error);
    if (config.Sends())
        line.insert(QStringLiteral("queue"), status.queue);
    if (!status.request.isEmpty()) { // what the machine's last request asked
        line.insert(QStringLiteral("asked"), status.asked);
        line.insert(QStringLiteral("request"), status.request);
    }
    if (status.feed)
        line.insert(QStringLiteral("feed"), FeedObject(*status.feed));
    if (status.last)
        line.insert(QStringLiteral("last"), TransferObject(*status.last));
    return line;
}

bool StatusFile::Write(const QString& path, const QJsonObject& status, QString* error)
{
    // A new file beside the old one, then one rename: a reader sees the old
    // or the new status, never half. No sync to disk: the file lives in a
    // runtime folder, and a sync per change would stall every line's loop.
    const QByteArray bytes = QJsonDocument(status).toJson(QJsonDocument::Indented);
    // A fresh name made here and now: NewOnly fails on any name that exists,
    // a link someone left among them, so whatever lies in the folder no other
    // file is written or has its mode changed. Made 0600, so that nobody
    // else opens it before it is whole.
    QFile file;
    QString temporary, reason;
    bool opened = false;
    for (int attempt = 0; attempt < 16 && !opened; ++attempt) {
        temporary = path + QStringLiteral(".new-") +
                    QString::number(QRandomGenerator::global()->generate64(), 16);
        opened =
            OpenPath(file, temporary, QIODevice::WriteOnly | QIODevice::NewOnly, &reason, 0600);
        if (opened)
            break;
        const PathStatus taken = StatPath(temporary);
        if (!taken.exists && !taken.isLink)
            break; // not a name taken meanwhile: the folder refuses
    }
    if (!opened) {
        *error = reason;
        return false;
    }
    // Every operator may run `tapeway-cli status`, whatever the umask.
    bool written = file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                       QFile::ReadOther) &&
                   file.write(bytes) == bytes.size() && file.flush();
    if (!written)
        reason = file.errorString();
    file.close();
    if (written && !RenamePath(temporary, path, true, &reason))
        written = false;
    if (!written) {
        RemovePath(temporary);
        *error = reason;
    }
    return written;
}

std::optional<qint64> StatusFile::ProcessStartTime(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "PID (COMM) STATE PPID ...": the name may hold spaces and parentheses,
    // so the fields are counted from the last ')'; field 3 comes first there.
    const QByteArray stat = file.readAll();
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    constexpr int kStartField = 22, kFirstField = 3;
    if (fields.size() <= kStartField - kFirstField)
        return std::nullopt;
    bool ok = false;
    const qint64 start = fields[kStartField - kFirstField].toLongLong(&ok);
    return ok ? std::optional<qint64>(start) : std::nullopt;
}

bool StatusFile::ServiceAlive(const QJsonObject& status)
{
    const QJsonObject service = status.value(QStringLiteral("service")).toObject();
    if (!service.value(QStringLiteral("running")).toBool())
        return false;
    const qint64 pid = service.value(QStringLiteral("pid")).toInteger();
    if (pid <= 0)
        return false;
    const std::optional<qint64> start = ProcessStartTime(pid);
    // A status of an earlier version records no start time: the pid is all it has.
    if (start)
        return !service.contains(QStringLiteral("process_start")) ||
               service.value(QStringLiteral("process_start")).toInteger(-1) == *start;
#ifdef Q_OS_UNIX
    if (QFileInfo::exists(QStringLiteral("/proc/self/stat")))
        return false; // /proc works and has no such process
    // No /proc: whether the pid is alive is all that can be told.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#else
    return true;
#endif
}

QString StatusFile::FormatTable(const QJsonObject& status, int language)
{
    const auto text = [language](ServeMessage message) { return ServeText(language, message); };
    QList<QStringList> rows = {{text(ServeMessage::ColumnLine), text(ServeMessage::ColumnPort),
                                text(ServeMessage::ColumnMode), text(ServeMessage::ColumnProtocol),
                                text(ServeMessage::ColumnState), text(ServeMessage::ColumnQueue),
                                text(ServeMessage::ColumnLast)}};
    for (const QJsonValue& value : status.value(QStringLiteral("lines")).toArray()) {
        const QJsonObject line = value.toObject();
        const QString stateName = line.value(QStringLiteral("state")).toString();
        QString state = text(StateWord(stateName));
        if (line.contains(QStringLiteral("file")))
            state += u' ' + line.value(QStringLiteral("file")).toString();
        if (line.contains(QStringLiteral("percent")))
            state += QStringLiteral(" %1 %").arg(line.value(QStringLiteral("percent")).toInt());
        if (line.contains(QStringLiteral("bytes")))
            state +=
                u' ' +
                text(ServeMessage::BytesSoFar).arg(line.value(QStringLiteral("bytes")).toInteger());
        // A machine that holds the line (XOFF) is at work, which the words say.
        if (line.contains(QStringLiteral("feed")))
            state += QStringLiteral(", ") +
                     FeedStatusText(FeedFrom(line.value(QStringLiteral("feed")).toObject()),
                                    [language](int chineseId, int englishId) {
                                        return LocalText(language, chineseId, englishId);
                                    });
        if (line.contains(QStringLiteral("error")))
            state += QStringLiteral(": ") + line.value(QStringLiteral("error")).toString();
        QString last = QStringLiteral("-");
        if (line.contains(QStringLiteral("last"))) {
            const QJsonObject transfer = line.value(QStringLiteral("last")).toObject();
            last = QStringLiteral("%1 %2 %3: %4")
                       .arg(transfer.value(QStringLiteral("finished")).toString(),
                            transfer.value(QStringLiteral("direction")).toString(),
                            QFileInfo(transfer.value(QStringLiteral("file")).toString()).fileName(),
                            transfer.value(QStringLiteral("outcome")).toString());
        }
        // A status of an earlier version names no protocol: all its lines were packet lines.
        QString protocol =
            line.value(QStringLiteral("protocol")).toString(QStringLiteral("packet"));
        if (line.contains(QStringLiteral("profile")))
            protocol +=
                QStringLiteral(" (%1)").arg(line.value(QStringLiteral("profile")).toString());
        rows << QStringList{line.value(QStringLiteral("name")).toString(),
                            line.value(QStringLiteral("port")).toString(),
                            line.value(QStringLiteral("mode")).toString(),
                            protocol,
                            state,
                            line.contains(QStringLiteral("queue"))
                                ? QString::number(line.value(QStringLiteral("queue")).toInt())
                                : QStringLiteral("-"),
                            last};
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    QStringList out;
    for (const QStringList& row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        out << line;
    }
    return out.join(u'\n');
}

} // namespace tapeway
