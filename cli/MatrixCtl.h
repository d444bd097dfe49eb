#pragma once

#include "Timing.h"

#include <QStringList>

class QTextStream;

// The command line tool: parses arguments, talks to the switcher through the link and
// prints results. Returns the process exit code: 0 success, 1 the switcher or the link
// failed, 2 bad arguments. Needs a running QCoreApplication.
int runMatrixCtl(const QStringList &arguments, QTextStream &out, QTextStream &err,
    const Timing &timing = Timing());
