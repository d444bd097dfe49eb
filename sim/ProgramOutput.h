#pragma once

#include <QString>

// What a program prints on stdout is its result: a script reads it from a file or a pipe. A
// result that could not be written (a full disk, /dev/full, a pipe closed early) must not end in
// success. Checked once, when the program exits, whichever way it does (a return from main, or
// exit() after --help): then stdout is flushed, and any write error makes the exit status 1 with
// "PROGRAM: write error: REASON" on stderr, as the coreutils do.

// Installs the check; program names the program in the message. Call once, first in main().
void checkStdoutAtExit(const char *program);

// Tells the check why an earlier write to stdout failed, for streams that report their own
// errors (a QTextStream on stdout): the C library forgets the reason once it has failed.
void noteStdoutWriteError(const QString &reason);

// A usage error is one line on stderr, so that a script's log shows what was wrong and not the
// whole usage: "PROGRAM: WHY; see PROGRAM --help". usageReason() drops the closing full stop
// that the option parser's texts end in; usageErrorLine() gives the whole line, newline included.
QString usageReason(QString parserText);
QString usageErrorLine(const QString &program, const QString &parserText);

// Flushes stdout now: an empty text when all that was printed has been written, else the reason.
// For a program that keeps running after it has told a script what it needs (an address).
QString flushStdout();
