#include "serve/StatusFile.h"

#include "serve/ServeText.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tapeway-%1").arg(::getuid()));
}

QJsonObject TransferObject(const LineTransfer& transfer)
{
    return QJsonObject{
        {QStringLiteral("direction"),
         transfer.sent ? QStringLiteral("sent") : QStringLiteral("received")},
        {QStringLiteral("file"), transfer.file},
        {QStringLiteral("bytes"), transfer.bytes},
        {QStringLiteral("ok"), transfer.ok},
        {QStringLiteral("outcome"), transfer.outcome},
        {QStringLiteral("finished"), transfer.finished.toString(Qt::ISODate)},
        {QStringLiteral("seconds"), double(transfer.elapsedMs) / 1000.0},
        {QStringLiteral("baud"), transfer.baud},
    };
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
        {QStringLiteral("state"), StateName(status.state)},
    };
    if (status.state == ServeLine::State::Receiving || status.state == ServeLine::State::Sending)
        line.insert(QStringLiteral("percent"), status.percent);
    if (!status.file.isEmpty())
        line.insert(QStringLiteral("file"), status.file);
    if (!status.error.isEmpty())
        line.insert(QStringLiteral("error"), status.error);
    if (config.Sends())
        line.insert(QStringLiteral("queue"), status.queue);
    if (status.last)
        line.insert(QStringLiteral("last"), TransferObject(*status.last));
    return line;
}

bool StatusFile::Write(const QString& path, const QJsonObject& status, QString* error)
{
    // A new file beside the old one, then one rename: a reader sees the old
    // or the new status, never half. No sync to disk: the file lives in a
    // runtime folder, and a sync per change would stall every line's loop.
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = file.errorString();
        return false;
    }
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                        QFile::ReadOther); // every operator may run `tapeway-cli status`
    const QByteArray bytes = QJsonDocument(status).toJson(QJsonDocument::Indented);
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written || ::rename(QFile::encodeName(temporary).constData(),
                             QFile::encodeName(path).constData()) != 0) {
        *error = written ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString();
        QFile::remove(temporary);
        return false;
    }
    return true;
}

QString StatusFile::FormatTable(const QJsonObject& status, int language)
{
    const auto text = [language](ServeMessage message) { return ServeText(language, message); };
    QList<QStringList> rows = {{text(ServeMessage::ColumnLine), text(ServeMessage::ColumnPort),
                                text(ServeMessage::ColumnMode), text(ServeMessage::ColumnState),
                                text(ServeMessage::ColumnQueue), text(ServeMessage::ColumnLast)}};
    for (const QJsonValue& value : status.value(QStringLiteral("lines")).toArray()) {
        const QJsonObject line = value.toObject();
        const QString stateName = line.value(QStringLiteral("state")).toString();
        QString state = text(StateWord(stateName));
        if (line.contains(QStringLiteral("file")))
            state += u' ' + line.value(QStringLiteral("file")).toString();
        if (line.contains(QStringLiteral("percent")))
            state += QStringLiteral(" %1 %").arg(line.value(QStringLiteral("percent")).toInt());
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
        rows << QStringList{line.value(QStringLiteral("name")).toString(),
                            line.value(QStringLiteral("port")).toString(),
                            line.value(QStringLiteral("mode")).toString(),
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
