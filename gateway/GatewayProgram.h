#pragma once

class QCoreApplication;

// matrix-gateway: parses the command line, prepares gateway.ini, starts the gateway and its
// servers, prints one ready line per server on stdout and runs until the application quits. Returns
// the exit code: 0 after a stop, 1 when a server cannot listen or the run fails, 2 for bad
// arguments and every other refusal to start (a settings file or token file it cannot use), each
// told on stderr with its reason.
int runGateway(QCoreApplication &app);
