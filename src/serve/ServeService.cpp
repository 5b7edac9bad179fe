// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/ServeService.h"

#include "journal/JournalThread.h"
#include "serve/ServeText.h"
#include "serve/StatusFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <csignal>

namespace tapeway {

ServeService::ServeService(const Options& options, QObject* parent)
    : QObject(parent), m_options(options)
{
    m_options.configPath = QFileInfo(options.configPath).absoluteFilePath();
    m_statusPath = StatusFile::PathFor(m_options.configPath, options.runtimeDir);
    m_statusTimer.setSingleShot(true);
    m_statusTimer.setInterval(kStatusDelayMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &ServeService::WriteStatus);
}

ServeService::~ServeService() = default;

QList<const ServeLine*> ServeService::Lines() const
{
    QList<const ServeLine*> lines;
    for (const auto& line : m_lines)
        lines << line.get();
    return lines;
}

const ServeLine* ServeService::LineNamed(const QString& name) const
{
    // A line stopping for a changed setup and its new self share the name:
    // the newest is the one that goes on.
    for (auto it = m_lines.crbegin(); it != m_lines.crend(); ++it) {
        if ((*it)->Config().name == name)
            return it->get();
    }
    return nullptr;
}

bool ServeService::Start()
{
    const ServeConfig config = ServeConfig::Load(m_options.configPath);
    for (const QString& error : config.errors)
        emit Message(error);
    if (!config.IsValid())
        return false;
    // A status folder that another user could have prepared is refused: the
    // service would write where that user chose, and its status be forged.
    QString folderError;
    const bool folderUsable =
        StatusFile::PrepareFolder(m_statusPath, m_options.language, &folderError);
    if (!folderError.isEmpty())
        emit Message(folderError);
    if (!folderUsable)
        return false;
    m_http = config.http;
    m_startedAt = QDateTime::currentDateTime();
    m_processStart = StatusFile::ProcessStartTime(QCoreApplication::applicationPid()).value_or(-1);
    emit Message(ServeText(m_options.language, ServeMessage::ServiceStarted)
                     .arg(config.lines.size())
                     .arg(m_options.configPath, m_statusPath));
    m_pending = config.lines;
    StartPending();
    WriteStatus();
    return true;
}

void ServeService::Reload()
{
    if (m_stopping)
        return;
    emit Message(ServeText(m_options.language, ServeMessage::Reloading).arg(m_options.configPath));
    const ServeConfig config = ServeConfig::Load(m_options.configPath);
    for (const QString& error : config.errors)
        emit Message(error);
    if (!config.IsValid()) {
        emit Message(ServeText(m_options.language, ServeMessage::ReloadRejected));
        return;
    }
    // Where the section stands in the file is no setting.
    const auto setup = [](std::optional<HttpConfig> http) {
        if (http)
            http->sourceLine = 0;
        return http;
    };
    if (setup(config.http) != setup(m_http))
        emit Message(ServeText(m_options.language, ServeMessage::HttpAtRestart));
    m_pending.clear();
    QStringList kept;
    // Copies of the pointers: a line that stops at once leaves m_lines meanwhile.
    QList<ServeLine*> lines;
    for (const auto& line : m_lines)
        lines << line.get();
    for (ServeLine* line : lines) {
        if (line->IsStopping())
            continue; // a new self, if any, starts once it has stopped
        const auto found =
            std::find_if(config.lines.cbegin(), config.lines.cend(),
                         [&](const LineConfig& c) { return c.name == line->Config().name; });
        if (found != config.lines.cend() && found->SameSetup(line->Config())) {
            kept << found->name;
            continue;
        }
        line->StopAfterFile();
    }
    for (const LineConfig& line : config.lines) {
        if (!kept.contains(line.name))
            m_pending << line;
    }
    StartPending();
    ScheduleStatus();
}

void ServeService::Stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_pending.clear();
    emit Message(ServeText(m_options.language, ServeMessage::ServiceStopping));
    for (const auto& line : m_lines)
        line->Stop();
    WriteStatus();
    QTimer::singleShot(0, this, [this] { emit Finished(0); });
}

void ServeService::HandleSignal(int signalNumber)
{
#ifdef SIGHUP
    if (signalNumber == SIGHUP) {
        Reload();
        return;
    }
#endif
    Q_UNUSED(signalNumber);
    Stop();
}

bool ServeService::PortInUse(const LineConfig& config) const
{
    const QString key = PortKey(config.link.portName);
    for (const auto& line : m_lines) {
        if (line->Config().name == config.name || PortKey(line->Config().link.portName) == key)
            return true;
    }
    return false;
}

void ServeService::StartPending()
{
    for (qsizetype i = 0; i < m_pending.size();) {
        const LineConfig config = m_pending[i];
        if (PortInUse(config)) {
            ++i; // its old self, or a removed line on its port, is finishing a file
            continue;
        }
        m_pending.removeAt(i);
        auto line = std::make_unique<ServeLine>(config, m_options.language);
        ServeLine* raw = line.get();
        raw->SetRetryMs(m_options.retryMs);
        raw->SetFeedFolder(FeedFolder());
        connect(raw, &ServeLine::Event, this, &ServeService::Message);
        connect(raw, &ServeLine::StatusChanged, this, &ServeService::ScheduleStatus);
        connect(raw, &ServeLine::TransferEnded, this, &ServeService::OnTransferEnded);
        connect(raw, &ServeLine::Stopped, this, [this, raw] { OnLineStopped(raw); });
        m_lines.push_back(std::move(line));
        raw->Start();
    }
}

void ServeService::OnTransferEnded(const LineTransfer& transfer)
{
    if (m_journal)
        m_journal->Record(
            TransferRecord::FromReport(transfer.report, transfer.port, transfer.line));
    emit TransferEnded(transfer);
}

void ServeService::OnLineStopped(ServeLine* line)
{
    if (m_stopping)
        return; // the final status still lists every line
    const auto it = std::find_if(m_lines.begin(), m_lines.end(),
                                 [line](const auto& owned) { return owned.get() == line; });
    if (it == m_lines.end())
        return;
    // The line is still inside its own signal: it goes once that has returned.
    it->release()->deleteLater();
    m_lines.erase(it);
    StartPending();
    ScheduleStatus();
}

QString ServeService::FeedFolder() const
{
    // systemd's state folder for the service is on disk; the runtime folder
    // of the status file is often memory (tmpfs), too small for a program
    // far larger than the controller's memory. Run by hand, the service
    // feeds from the user's data folder, as the dialog and the CLI do.
    const QString state = qEnvironmentVariable("STATE_DIRECTORY").section(u':', 0, 0);
    return state.isEmpty() ? QString() : QDir(state).filePath(QStringLiteral("feeds"));
}

void ServeService::ScheduleStatus()
{
    if (!m_statusTimer.isActive())
        m_statusTimer.start();
}

QJsonObject ServeService::StatusObject() const
{
    QJsonArray lines;
    for (const auto& line : m_lines)
        lines.append(StatusFile::LineObject(line->Config(), line->GetStatus()));
    return QJsonObject{
        {QStringLiteral("service"),
         QJsonObject{{QStringLiteral("config"), m_options.configPath},
                     {QStringLiteral("pid"), QCoreApplication::applicationPid()},
                     {QStringLiteral("process_start"), m_processStart},
                     {QStringLiteral("running"), !m_stopping},
                     {QStringLiteral("started"), m_startedAt.toString(Qt::ISODate)},
                     {QStringLiteral("updated"),
                      QDateTime::currentDateTime().toString(Qt::ISODateWithMs)}}},
        {QStringLiteral("lines"), lines},
    };
}

void ServeService::WriteStatus()
{
    m_statusTimer.stop();
    QString error;
    const QJsonObject status = StatusObject();
    if (!StatusFile::Write(m_statusPath, status, &error)) {
        if (error != m_statusError)
            emit Message(
                QStringLiteral("cannot write the status file %1: %2").arg(m_statusPath, error));
    }
    m_statusError = error;
    emit StatusChanged(status);
}

} // namespace tapeway
