// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ApprovalCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/ServeCommand.h"
#include "journal/JournalKeeper.h"
#include "journal/JournalThread.h"
#include "resources/StringTable.h"
#include "serve/Approval.h"
#include "serve/ApprovalRecord.h"
#include "serve/ApprovalText.h"
#include "serve/ServeConfig.h"
#include "transfer/SystemPath.h"

#include <QDir>

namespace tapeway {

namespace {

enum class Action
{
    Approve,
    Reject,
    Diff
};

const char* const kDescriptions[] = {
    "Moves the program NAME that the line LINE holds in pending/ under its inbox into the "
    "line's library (Library=). A program of that name in the library is replaced only with "
    "--replace; look at 'tapeway-cli diff LINE NAME' first. Prints approved TAB the new path.",
    "Moves the program NAME that the line LINE holds in pending/ under its inbox to rejected/ "
    "under its inbox. Prints rejected TAB the new path.",
    "Shows the program NAME that the line LINE holds in pending/ against the library's "
    "program of that name (or against nothing), as a unified diff.",
};

QString Hex(const QByteArray& digest)
{
    return QString::fromLatin1(digest.toHex());
}

// The decision in the journal: the program's digest and the library's.
void Journal(const CommandLine& line, const LineConfig& config, const Approval::Result& result,
             const char* outcome, const QString& message)
{
    const TransferRecord record = ApprovalRecord(config, result, outcome, message);
    QString journalError;
    JournalKeeper keeper(line.Journal(&journalError), journalError);
    const JournalKeeper::Written written = keeper.Record(record);
    if (written.kind == JournalKeeper::Written::FellBack ||
        written.kind == JournalKeeper::Written::Lost)
        Console::Err(JournalFailureText(line.Language(),
                                        written.kind == JournalKeeper::Written::FellBack,
                                        written.reason)
                         .replace(u'\n', u' '));
}

int Refused(const CommandLine& line, const LineConfig& config, const Approval& approval,
            const QString& name, const Approval::Result& result, const QString& configPath)
{
    const int language = line.Language();
    switch (result.refusal) {
    case Approval::Refusal::None:
        return kExitDone;
    case Approval::Refusal::BadName:
        return line.UsageError(ApprovalText(language, ApprovalMessage::BadName).arg(name));
    case Approval::Refusal::NoLibrary:
        Console::Err(
            ApprovalText(language, ApprovalMessage::NoLibrary).arg(config.name, configPath));
        return kExitUsage;
    case Approval::Refusal::NotPending: {
        const QStringList waiting = approval.Pending();
        Console::Err(ApprovalText(language, ApprovalMessage::NotPending)
                         .arg(name, DisplayPath(approval.PendingFolder()),
                              waiting.isEmpty()
                                  ? ApprovalText(language, ApprovalMessage::NothingWaits)
                                  : waiting.join(QStringLiteral(", "))));
        return kExitLocalFile;
    }
    case Approval::Refusal::NotRegular:
        Console::Err(ApprovalText(language, ApprovalMessage::NotRegular).arg(result.detail));
        return kExitLocalFile;
    case Approval::Refusal::InLibrary:
        Console::Err(ApprovalText(language, ApprovalMessage::InLibrary)
                         .arg(DisplayPath(result.libraryPath), config.name, name));
        return kExitLocalFile;
    case Approval::Refusal::System:
        Console::Err(ApprovalText(language, ApprovalMessage::Failed).arg(name, result.detail));
        return kExitLocalFile;
    }
    return kExitFailed;
}

int Run(Action action, const QStringList& args)
{
    static const char* const kNames[] = {"approve", "reject", "diff"};
    CommandLine line(QString::fromLatin1(kNames[int(action)]),
                     QString::fromUtf8(kDescriptions[int(action)]));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("The service's configuration file (default %1).")
                                        .arg(QString::fromUtf8(ServeCommand::kDefaultConfig)),
                                    QStringLiteral("FILE"),
                                    QString::fromUtf8(ServeCommand::kDefaultConfig));
    const QCommandLineOption replace(QStringLiteral("replace"),
                                     QStringLiteral("Replace the library's program of that name."));
    line.Parser().addOption(config);
    if (action == Action::Approve)
        line.Parser().addOption(replace);
    line.Parser().addPositionalArgument(QStringLiteral("LINE"), QStringLiteral("The line."));
    line.Parser().addPositionalArgument(QStringLiteral("NAME"),
                                        QStringLiteral("The program's file name in pending/."));
    if (const auto status = line.ParseCommand(args))
        return *status;
    const int language = line.Language();
    const QStringList positional = line.Parser().positionalArguments();
    if (positional.size() != 2)
        return line.UsageError(ApprovalText(language, ApprovalMessage::NeedsName));
    const QString& lineName = positional[0];
    const QString& name = positional[1];
    if (!Approval::IsPlainName(name))
        return line.UsageError(ApprovalText(language, ApprovalMessage::BadName).arg(name));

    const QString configPath = line.Parser().value(config);
    const ServeConfig serve = ServeConfig::Load(configPath);
    if (!serve.IsValid()) {
        for (const QString& error : serve.errors)
            Console::Err(error);
        return kExitUsage;
    }
    const LineConfig* found = nullptr;
    QStringList names;
    for (const LineConfig& each : serve.lines) {
        names << each.name;
        if (each.name.compare(lineName, Qt::CaseInsensitive) == 0)
            found = &each;
    }
    if (!found || !found->Receives()) {
        Console::Err(ApprovalText(language, ApprovalMessage::UnknownLine)
                         .arg(lineName, configPath, names.join(QStringLiteral(", "))));
        return kExitUsage;
    }
    const Approval approval(*found);
    if (action == Action::Diff) {
        const Approval::Result result = approval.Diff(name);
        if (!result.Ok())
            return Refused(line, *found, approval, name, result, configPath);
        if (!result.diff.isEmpty())
            Console::Out(result.diff.chopped(1));
        else
            Console::Err(ApprovalText(language, result.sameBytes ? ApprovalMessage::Same
                                                                 : ApprovalMessage::OnlyLineEnds)
                             .arg(DisplayPath(result.libraryPath), DisplayPath(result.pending)));
        return kExitDone;
    }
    const bool approve = action == Action::Approve;
    const Approval::Result result =
        approve ? approval.Approve(name, line.Parser().isSet(replace)) : approval.Reject(name);
    if (!result.Ok())
        return Refused(line, *found, approval, name, result, configPath);
    // The journal keeps the English words; the operator reads his own.
    const auto words = [&](int lang) {
        QString text =
            ApprovalText(lang, approve ? ApprovalMessage::Approved : ApprovalMessage::Rejected)
                .arg(name, DisplayPath(result.path));
        if (approve && !result.librarySha256.isEmpty())
            text += ApprovalText(lang, ApprovalMessage::Replaced).arg(Hex(result.librarySha256));
        return text;
    };
    Journal(line, *found, result, approve ? Approval::kApproved : Approval::kRejected,
            words(kEnglish));
    Console::Err(words(language));
    Console::Out(QStringLiteral("%1\t%2").arg(
        QString::fromLatin1(approve ? Approval::kApproved : Approval::kRejected),
        EscapeField(result.path)));
    return kExitDone;
}

} // namespace

int ApprovalCommand::RunApprove(const QStringList& args)
{
    return Run(Action::Approve, args);
}

int ApprovalCommand::RunReject(const QStringList& args)
{
    return Run(Action::Reject, args);
}

int ApprovalCommand::RunDiff(const QStringList& args)
{
    return Run(Action::Diff, args);
}

} // namespace tapeway
