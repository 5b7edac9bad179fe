// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ServeCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/SignalNotifier.h"
#include "journal/JournalThread.h"
#include "resources/StringTable.h"
#include "serve/OfficeDesk.h"
#include "serve/ServeService.h"
#include "serve/ServeText.h"
#include "serve/StatusFile.h"
#include "web/OfficeThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace tapeway {

namespace {

// `status`: the service is not running (or what it left is not its own).
constexpr int kExitNotRunning = 3;

QCommandLineOption ConfigOption()
{
    return QCommandLineOption(QStringLiteral("config"),
                              QStringLiteral("The configuration file (default %1).")
                                  .arg(QString::fromUtf8(ServeCommand::kDefaultConfig)),
                              QStringLiteral("FILE"),
                              QString::fromUtf8(ServeCommand::kDefaultConfig));
}

QCommandLineOption RuntimeOption()
{
    return QCommandLineOption(QStringLiteral("runtime-dir"),
                              QStringLiteral("Where the status file is kept (default: "
                                             "$RUNTIME_DIRECTORY, else $XDG_RUNTIME_DIR/tapeway)."),
                              QStringLiteral("DIR"));
}

} // namespace

int ServeCommand::RunServe(const QStringList& args)
{
    CommandLine line(
        QStringLiteral("serve"),
        QStringLiteral("Serves every line (machine) of the configuration file until SIGTERM or "
                       "SIGINT; SIGHUP reads the file again. One [NAME] section per line:\n"
                       "  Port=/dev/ttyUSB0   Mode=receive|send|both   Inbox=DIR   Outbox=DIR\n"
                       "  Baud=9600|19200|38400   (DataBits=7|8  Parity=none|even|odd  "
                       "StopBits=1|2)\n"
                       "  Protocol=tape  Profile=NAME   (then Baud=B  Frame=7E2  "
                       "StartOn=now|xon ... over the profile)\n"
                       "  Library=DIR   (RequestNumber=O9999  ReplyNumber=O9998): a program of "
                       "the request number\n"
                       "  asks with (SEND O1234) (SEND O12*) (DNC O1234 N100) (LIST) for "
                       "library programs\n"
                       "  Approve=yes|no   (received programs wait in the inbox's pending/ for "
                       "'tapeway-cli approve')\n"
                       "  Profiles=FILE before the first section: the own tape profiles\n"
                       "  [HTTP] Listen=127.0.0.1:8470 Users=FILE Certificate=PEM Key=PEM "
                       "MaxUpload=64M ClientTimeout=30: the office view\n"
                       "  [HTTP] Listen=127.0.0.1:8470  Users=FILE  (Certificate=PEM  Key=PEM  "
                       "MaxUpload=64M  ClientTimeout=30):\n"
                       "  the office view, a web page and API of every line ('tapeway-cli user' "
                       "keeps FILE)\n"
                       "Log lines go to stderr; the status file is shown by 'tapeway-cli "
                       "status'."));
    const QCommandLineOption config = ConfigOption();
    const QCommandLineOption runtime = RuntimeOption();
    const QCommandLineOption retry(QStringLiteral("retry-seconds"),
                                   QStringLiteral("How often a broken port is tried again "
                                                  "(default 10)."),
                                   QStringLiteral("S"), QStringLiteral("10"));
    line.Parser().addOption(config);
    line.Parser().addOption(runtime);
    line.Parser().addOption(retry);
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;
    qint64 retrySeconds = 0;
    if (!CommandLine::ToInt(line.Parser().value(retry), 1, &retrySeconds) || retrySeconds > 3600)
        return line.UsageError(QStringLiteral("--retry-seconds takes 1 to 3600"));

    ServeService::Options options;
    options.configPath = line.Parser().value(config);
    options.runtimeDir = line.Parser().value(runtime);
    options.language = line.Language();
    options.retryMs = int(retrySeconds * 1000);
    // Every transfer of every line is journalled with the line's name; a
    // journal that fails changes nothing of the service: one line says so.
    QString journalError;
    const std::optional<JournalLocation> journalLocation = line.Journal(&journalError);
    JournalThread journal(journalLocation, journalError);
    QObject::connect(
        &journal, &JournalThread::JournalFailed, &journal,
        [&](bool keptLocally, const QString& reason) {
            Console::Err(
                JournalFailureText(line.Language(), keptLocally, reason).replace(u'\n', u' '));
        });
    ServeService service(options);
    service.SetJournal(&journal);
    QObject::connect(&service, &ServeService::Message, &service,
                     [](const QString& text) { Console::Err(text); });
    QObject::connect(&service, &ServeService::Finished, qApp,
                     [](int status) { QCoreApplication::exit(status); });
    SignalNotifier notifier; // SIGHUP reloads, SIGTERM and SIGINT stop
    QObject::connect(&notifier, &SignalNotifier::Interrupted, &service,
                     &ServeService::HandleSignal);
    if (!service.Start())
        return kExitUsage;
    Console::Err(QStringLiteral("journal: %1").arg(journal.ConfiguredText()));
    // The office view: a web server over the desk, never over a line.
    std::unique_ptr<OfficeDesk> desk;
    std::unique_ptr<OfficeThread> office; // on a thread of its own, ended before the desk
    if (const std::optional<HttpConfig> http = service.Http()) {
        desk = std::make_unique<OfficeDesk>(&service, &journal);
        office = std::make_unique<OfficeThread>(*http, desk.get());
        QObject::connect(office.get(), &OfficeThread::Message, office.get(),
                         [](const QString& text) { Console::Err(text); });
        QString error;
        if (!office->Start(&error)) {
            Console::Err((line.Language() == 0 ? QStringLiteral("办公室视图无法启动：%1")
                                               : QStringLiteral("office view cannot start: %1"))
                             .arg(error));
            office.reset();
            desk.reset();
            // The lines already run: they stop as at SIGTERM, then the
            // service ends with the usage error's status.
            service.Stop();
            QCoreApplication::exec();
            journal.Finish();
            return kExitUsage;
        }
        Console::Err((line.Language() == 0 ? QStringLiteral("办公室视图 office view: %1")
                                           : QStringLiteral("office view: %1"))
                         .arg(office->Url()));
    }
    const int status = QCoreApplication::exec();
    office.reset();
    desk.reset();
    // The last records are written before the service ends.
    journal.Finish();
    return status;
}

int ServeCommand::RunStatus(const QStringList& args)
{
    CommandLine line(QStringLiteral("status"),
                     QStringLiteral("Shows the state of every line of a running 'tapeway-cli "
                                    "serve': a table, or with --format json the status file "
                                    "as it is. Exit status 3 when the service is not running."));
    const QCommandLineOption config = ConfigOption();
    const QCommandLineOption runtime = RuntimeOption();
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("table (default) or json."),
                                    QStringLiteral("FORMAT"), QStringLiteral("table"));
    line.Parser().addOption(config);
    line.Parser().addOption(runtime);
    line.Parser().addOption(format);
    if (const auto status = line.ParseOptionsOnly(args))
        return *status;
    const QString how = line.Parser().value(format);
    if (how != QStringLiteral("table") && how != QStringLiteral("json"))
        return line.UsageError(QStringLiteral("--format takes table or json"));

    const QString path =
        StatusFile::FindFor(line.Parser().value(config), line.Parser().value(runtime));
    // A status in a folder another user could have prepared is not the
    // service's: no service of this user writes there.
    QString folderError;
    if (!StatusFile::TrustFolder(path, line.Language(), &folderError)) {
        Console::Err(folderError);
        Console::Err(ServeText(line.Language(), ServeMessage::NotRunning).arg(path));
        return kExitNotRunning;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Console::Err(ServeText(line.Language(), ServeMessage::NotRunning).arg(path));
        return kExitNotRunning;
    }
    const QByteArray data = file.readAll();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (!document.isObject()) {
        Console::Err(QStringLiteral("%1: %2").arg(path, error.errorString()));
        return kExitFailed;
    }
    const QJsonObject status = document.object();
    const QJsonObject service = status.value(QStringLiteral("service")).toObject();
    const bool saysRunning = service.value(QStringLiteral("running")).toBool();
    const bool alive = StatusFile::ServiceAlive(status);
    // A service that ended without a last word (killed, crashed) left the
    // state it was in: that is shown as nothing but "not running".
    if (alive || !saysRunning) {
        if (how == QStringLiteral("json"))
            Console::Out(QString::fromUtf8(data).trimmed());
        else
            Console::Out(StatusFile::FormatTable(status, line.Language()));
    }
    if (alive)
        return kExitDone;
    if (saysRunning)
        Console::Err(ServeText(line.Language(), ServeMessage::ServiceGone)
                         .arg(service.value(QStringLiteral("pid")).toInteger())
                         .arg(path));
    else
        Console::Err(ServeText(line.Language(), ServeMessage::ServiceStopped)
                         .arg(service.value(QStringLiteral("updated")).toString(), path));
    return kExitNotRunning;
}

} // namespace tapeway
