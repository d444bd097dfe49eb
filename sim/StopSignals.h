#pragma once

#include <QString>

class QCoreApplication;

// matrix-sim's stop: SIGINT or SIGTERM (Ctrl+C, a service manager) ends the event loop instead
// of the process, so that destructors run and remove the pty link. One file per platform.
// False with *error set when the handlers cannot be set up.
bool quitOnStopSignals(QCoreApplication &app, QString *error);
