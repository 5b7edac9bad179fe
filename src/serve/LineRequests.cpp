// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/LineRequests.h"

#include "serve/Library.h"
#include "serve/ReplyProgram.h"
#include "serve/ServeText.h"
#include "transfer/FeedSnapshot.h"
#include "transfer/SystemPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace tapeway {

LineRequests::LineRequests(const LineConfig& config, int language)
    : m_line(config.name), m_language(language), m_requestNumber(config.requestNumber),
      m_replyNumber(config.replyNumber), m_library(config.library), m_tape(config.tape.has_value())
{
    if (config.tape)
        m_code = config.tape->code;
    SetFeedFolder({});
}

LineRequests::~LineRequests()
{
    for (const Item& item : std::as_const(m_items)) {
        if (item.reply)
            RemovePath(item.path);
    }
}

void LineRequests::SetFeedFolder(const QString& feedFolder)
{
    const QString feeds = feedFolder.isEmpty() ? FeedSnapshot::DefaultFolder() : feedFolder;
    m_replyFolder = QFileInfo(feeds).dir().filePath(QStringLiteral("replies"));
}

std::optional<LineRequests::Taken> LineRequests::Take(const QByteArray& data)
{
    if (!RequestProgram::IsRequest(data, m_requestNumber))
        return std::nullopt;
    Taken taken;
    const QList<RequestAsk> asks = RequestProgram::Asks(data);
    for (const RequestAsk& ask : asks)
        Ask(ask, taken);
    if (asks.isEmpty())
        Ask(RequestAsk{RequestAsk::Kind::Unknown, {}, {}, QStringLiteral("NOTHING ASKED")}, taken);
    taken.note.prepend(QStringLiteral("request %1: ").arg(m_requestNumber));
    return taken;
}

void LineRequests::Ask(const RequestAsk& ask, Taken& taken)
{
    const auto note = [&](const QString& text) {
        taken.note += (taken.note.isEmpty() ? QString() : QStringLiteral("; ")) + ask.text +
                      QStringLiteral(" -> ") + text;
    };
    const auto reply = [&](const QString& comment, ServeMessage message) {
        taken.events << ServeText(m_language, message).arg(m_line, ask.text, m_replyNumber);
        note(QStringLiteral("reply %1 (%2)").arg(m_replyNumber, comment));
        QueueReply(ReplyProgram::Build(m_replyNumber, comment, m_code), taken);
    };
    if (ask.kind == RequestAsk::Kind::List) {
        const QList<Library::Entry> entries = Library(m_library).Entries();
        taken.events << ServeText(m_language, ServeMessage::AskList)
                            .arg(m_line)
                            .arg(entries.size())
                            .arg(m_replyNumber);
        note(QStringLiteral("reply %1 (LIBRARY %2)").arg(m_replyNumber).arg(entries.size()));
        QueueReply(ReplyProgram::List(m_replyNumber, entries, m_code), taken);
        return;
    }
    if (ask.kind == RequestAsk::Kind::Unknown)
        return reply(QStringLiteral("NOT UNDERSTOOD %1").arg(ask.text),
                     ServeMessage::AskNotUnderstood);
    // The packet protocol sends a program whole: it has no feed from a block.
    if (ask.block && !m_tape)
        return reply(QStringLiteral("CANNOT START AT N%1 %2").arg(*ask.block).arg(ask.target),
                     ServeMessage::AskNoRestart);
    const Library::Lookup found = Library(m_library).Find(ask.target);
    if (found.result == Library::Result::Refused)
        return reply(QStringLiteral("REFUSED %1").arg(ask.target), ServeMessage::AskRefused);
    if (found.result == Library::Result::NotFound) {
        taken.events << ServeText(m_language, ServeMessage::AskNotFound)
                            .arg(m_line, ask.text, m_library, m_replyNumber);
        note(QStringLiteral("reply %1 (NOT FOUND %2)").arg(m_replyNumber, ask.target));
        QueueReply(ReplyProgram::Build(m_replyNumber,
                                       QStringLiteral("NOT FOUND %1").arg(ask.target), m_code),
                   taken);
        return;
    }
    QStringList names;
    for (const QString& path : found.paths) {
        m_items.append({path, false, ask.block});
        names << QFileInfo(path).fileName();
    }
    taken.events << ServeText(m_language, ServeMessage::AskQueued)
                        .arg(m_line, ask.text, names.join(QStringLiteral(", ")));
    note(names.join(QStringLiteral(", ")));
}

void LineRequests::QueueReply(const QByteArray& program, Taken& taken, bool first)
{
    // Private to the service: the folder 0700, the file 0600.
    QString error;
    if (QDir().mkpath(m_replyFolder)) {
        QFile::setPermissions(m_replyFolder,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QTemporaryFile file(
            QDir(m_replyFolder)
                .filePath(QStringLiteral("%1-%2-XXXXXX.nc").arg(m_line, m_replyNumber)));
        file.setAutoRemove(false);
        if (file.open() && file.write(program) == program.size() && file.flush()) {
            m_items.insert(first ? 0 : m_items.size(), {file.fileName(), true, std::nullopt});
            return;
        }
        error = file.errorString();
        if (!file.fileName().isEmpty())
            file.remove();
    } else {
        error = QStringLiteral("cannot make the folder");
    }
    taken.events
        << ServeText(m_language, ServeMessage::ReplyNotWritten).arg(m_line, m_replyFolder, error);
}

QString LineRequests::Next()
{
    if (m_handed) {
        // The session went on past it: it could not be prepared (a block the
        // program does not hold, a file gone). The operator reads that first.
        const Item item = m_items.first();
        Drop();
        if (!item.reply) {
            Taken ignored;
            const QString block = item.block ? QStringLiteral(" N%1").arg(*item.block) : QString();
            QueueReply(
                ReplyProgram::Build(
                    m_replyNumber,
                    QStringLiteral("NOT SENT %1%2").arg(QFileInfo(item.path).fileName(), block),
                    m_code),
                ignored, true);
        }
    }
    m_handed = !m_items.isEmpty();
    return m_handed ? m_items.first().path : QString();
}

std::optional<FeedRestart> LineRequests::RestartFor(const QString& path) const
{
    if (!m_handed || m_items.first().path != path || !m_items.first().block)
        return std::nullopt;
    return FeedRestart{FeedRestart::By::Block, *m_items.first().block, std::nullopt};
}

bool LineRequests::Done(const QString& path)
{
    if (!m_handed || path.isEmpty() || m_items.first().path != path)
        return false;
    Drop();
    return true;
}

void LineRequests::Drop()
{
    const Item item = m_items.takeFirst();
    if (item.reply)
        RemovePath(item.path);
    m_handed = false;
}

} // namespace tapeway
