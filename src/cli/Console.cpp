// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Console.h"

#include "transfer/SystemPath.h"

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tapeway {

namespace {

void Write(FILE* stream, const QString& text)
{
    // A file name's undecodable bytes are shown as \xNN wherever it appears.
    const QByteArray bytes = DisplayPath(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void Console::Out(const QString& line)
{
    Write(stdout, line + u'\n');
}

void Console::OutRaw(const QString& text)
{
    Write(stdout, text);
}

void Console::Err(const QString& line)
{
    Write(stderr, line + u'\n');
}

void Console::ErrRaw(const QString& text)
{
    Write(stderr, text);
}

bool Console::ErrIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

int Console::OutWidth()
{
#ifdef Q_OS_UNIX
    if (isatty(STDOUT_FILENO) != 1)
        return 0;
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
#else
    return 0;
#endif
}

} // namespace tapeway
