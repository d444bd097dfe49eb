#include "ProgramOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *programName = "";
// The reason of a failure found before the exit, in the system's words.
char notedReason[256] = {};

void noteReason(const char *reason)
{
    if (notedReason[0] == '\0')
        std::snprintf(notedReason, sizeof notedReason, "%s", reason);
}

// Flushes stdout; false when anything printed on it was lost, with the reason noted.
bool flushed()
{
    const bool failedBefore = std::ferror(stdout) != 0;
    // A failed write just before the exit (the help text of exit() paths) leaves its reason.
    if (failedBefore && errno != 0)
        noteReason(std::strerror(errno));
    errno = 0;
    if (std::fflush(stdout) != 0 && errno != 0)
        noteReason(std::strerror(errno));
    return !failedBefore && std::ferror(stdout) == 0;
}

void checkAtExit()
{
    if (flushed())
        return;
    std::fprintf(
        stderr, "%s: write error%s%s\n", programName, notedReason[0] ? ": " : "", notedReason);
    std::fflush(stderr);
    // Past this point the exit status is the only way left to tell the caller.
    std::_Exit(EXIT_FAILURE);
}

} // namespace

void checkStdoutAtExit(const char *program)
{
    programName = program;
    std::atexit(checkAtExit);
}

void noteStdoutWriteError(const QString &reason)
{
    noteReason(reason.toLocal8Bit().constData());
}

QString flushStdout()
{
    if (flushed())
        return {};
    return notedReason[0] ? QString::fromLocal8Bit(notedReason) : QStringLiteral("write error");
}

QString usageReason(QString parserText)
{
    while (parserText.endsWith(QLatin1Char('.')))
        parserText.chop(1);
    return parserText;
}

QString usageErrorLine(const QString &program, const QString &parserText)
{
    return program + QLatin1String(": ") + usageReason(parserText) + QLatin1String("; see ")
        + program + QLatin1String(" --help\n");
}
