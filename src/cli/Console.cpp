#include "cli/Console.h"

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tapeway {

namespace {

void Write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void Console::Out(const QString& line)
{
    Write(stdout, line + u'\n');
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

} // namespace tapeway
