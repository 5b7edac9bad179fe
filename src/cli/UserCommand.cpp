// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/UserCommand.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "web/UsersFile.h"

#include <QFileInfo>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace tapeway {

namespace {

enum class Text
{
    Prompt, // %1 name
    Again,
    Differ,
    Empty,
    NoPassword,
    NotAUser, // %1 name
    BadName,  // %1 name
    BadRole,  // %1 role
};

QString Say(int language, Text text)
{
    const bool zh = language == 0;
    switch (text) {
    case Text::Prompt:
        return zh ? QStringLiteral("%1 的密码：") : QStringLiteral("Password for %1: ");
    case Text::Again:
        return zh ? QStringLiteral("再输入一次：") : QStringLiteral("Once more: ");
    case Text::Differ:
        return zh ? QStringLiteral("两次输入的密码不一样，没有保存。")
                  : QStringLiteral("The two passwords differ; nothing was saved.");
    case Text::Empty:
        return zh ? QStringLiteral("密码不能为空，没有保存。")
                  : QStringLiteral("The password is empty; nothing was saved.");
    case Text::NoPassword:
        return zh ? QStringLiteral("标准输入没有给出密码（第一行），没有保存。")
                  : QStringLiteral("stdin gave no password (its first line); nothing was saved.");
    case Text::NotAUser:
        return zh ? QStringLiteral("没有名为 %1 的用户。") : QStringLiteral("There is no user %1.");
    case Text::BadName:
        return zh ? QStringLiteral("\"%1\" 不能作为用户名：1 到 64 个 A-Z a-z 0-9 . _ - "
                                   "字符，不能以 . 开头。")
                  : QStringLiteral("\"%1\" is not a user name: 1 to 64 of A-Z a-z 0-9 . _ -, "
                                   "not starting with '.'.");
    case Text::BadRole:
        return zh ? QStringLiteral("角色 \"%1\" 不对：viewer、operator 或 admin。")
                  : QStringLiteral("The role \"%1\" is not viewer, operator or admin.");
    }
    return {};
}

// One line from the terminal without echo; the echo comes back even when
// reading fails.
bool ReadHidden(const QString& prompt, QString* password)
{
    Console::ErrRaw(prompt);
    termios saved{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    bool ended = false;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF) {
            ended = line.isEmpty();
            break;
        }
        if (c == '\n')
            break;
        line += char(c);
    }
    if (terminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromUtf8(line);
    return !ended;
}

} // namespace

int UserCommand::Run(const QStringList& args)
{
    CommandLine line(
        QStringLiteral("user"),
        QStringLiteral("Keeps the users of the office view (the [HTTP] section's Users= file):\n"
                       "  user add --users PATH NAME --role viewer|operator|admin\n"
                       "  user remove --users PATH NAME\n"
                       "  user list --users PATH\n"
                       "add asks for the password twice on the terminal (no echo), or takes the "
                       "first line of stdin when that is not a terminal; an existing NAME gets "
                       "the new password and role. The file keeps salted PBKDF2 hashes, never "
                       "a password, and is readable by its owner only. A running service reads "
                       "it again by itself."));
    const QCommandLineOption users(QStringLiteral("users"), QStringLiteral("The users file."),
                                   QStringLiteral("PATH"));
    const QCommandLineOption role(QStringLiteral("role"),
                                  QStringLiteral("viewer (sees), operator (also queues, removes, "
                                                 "approves, rejects) or admin (also sees the "
                                                 "users)."),
                                  QStringLiteral("ROLE"));
    line.Parser().addOption(users);
    line.Parser().addOption(role);
    line.Parser().addPositionalArgument(QStringLiteral("ACTION"),
                                        QStringLiteral("add, remove or list"));
    line.Parser().addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("the user"));
    if (const auto status = line.ParseCommand(args))
        return *status;
    const int language = line.Language();
    const QStringList positional = line.Parser().positionalArguments();
    if (positional.isEmpty())
        return line.UsageError(QStringLiteral("say add, remove or list"));
    const QString action = positional.first();
    if (!line.Parser().isSet(users))
        return line.UsageError(QStringLiteral("--users PATH is required"));
    const bool list = action == QStringLiteral("list");
    if (action != QStringLiteral("add") && action != QStringLiteral("remove") && !list)
        return line.UsageError(
            QStringLiteral("unknown action \"%1\": add, remove or list").arg(action));
    if (positional.size() != (list ? 1 : 2))
        return line.UsageError(list ? QStringLiteral("list takes no NAME")
                                    : QStringLiteral("%1 takes one NAME").arg(action));
    UsersFile file(QFileInfo(line.Parser().value(users)).absoluteFilePath());
    QString error;
    if (!file.Load(&error, !list)) {
        Console::Err(error);
        return kExitLocalFile;
    }
    if (list) {
        for (const UsersFile::User& user : file.Users())
            Console::Out(user.name + u'\t' + UsersFile::RoleName(user.role));
        return kExitDone;
    }
    const QString name = positional[1];
    if (action == QStringLiteral("remove")) {
        if (!file.Remove(name)) {
            Console::Err(Say(language, Text::NotAUser).arg(name));
            return kExitFailed;
        }
        if (!file.Save(&error)) {
            Console::Err(error);
            return kExitLocalFile;
        }
        Console::Out(QStringLiteral("removed\t") + name);
        return kExitDone;
    }
    UsersFile::User user;
    user.name = name;
    if (!UsersFile::IsValidName(name))
        return line.UsageError(Say(language, Text::BadName).arg(name));
    if (!line.Parser().isSet(role) || !UsersFile::RoleNamed(line.Parser().value(role), &user.role))
        return line.UsageError(Say(language, Text::BadRole).arg(line.Parser().value(role)));
    QString password;
    if (::isatty(STDIN_FILENO)) {
        QString again;
        if (!ReadHidden(Say(language, Text::Prompt).arg(name), &password) ||
            !ReadHidden(Say(language, Text::Again), &again)) {
            Console::Err(Say(language, Text::NoPassword));
            return kExitUsage;
        }
        if (password != again) {
            Console::Err(Say(language, Text::Differ));
            return kExitUsage;
        }
    } else {
        QByteArray first;
        for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
            first += char(c);
        if (first.endsWith('\r'))
            first.chop(1);
        password = QString::fromUtf8(first);
    }
    if (password.isEmpty()) {
        Console::Err(Say(language, Text::Empty));
        return kExitUsage;
    }
    user.hash = PasswordHash::Make(password);
    const bool replaced = file.Put(user);
    if (!file.Save(&error)) {
        Console::Err(error);
        return kExitLocalFile;
    }
    Console::Out((replaced ? QStringLiteral("replaced\t") : QStringLiteral("added\t")) + name +
                 u'\t' + UsersFile::RoleName(user.role));
    return kExitDone;
}

} // namespace tapeway
