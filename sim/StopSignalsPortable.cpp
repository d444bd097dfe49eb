#include "StopSignals.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>

namespace {

// Standard C leaves a handler nothing but setting such a flag; a timer looks at it.
volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

} // namespace

bool quitOnStopSignals(QCoreApplication &app, QString *error)
{
    if (std::signal(SIGINT, onSignal) == SIG_ERR || std::signal(SIGTERM, onSignal) == SIG_ERR) {
        *error = QStringLiteral("cannot handle SIGINT and SIGTERM");
        return false;
    }
    auto *poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, &app, [] {
        if (stopRequested)
            QCoreApplication::quit();
    });
    poll->start(100);
    return true;
}
