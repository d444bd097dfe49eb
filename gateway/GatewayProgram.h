#pragma once

class QCoreApplication;

// matrix-gateway: parses the command line, prepares gateway.ini, starts the gateway and its
// servers, prints one ready line per server on stdout and runs until the application quits. Returns
// the exit code: 0 after a stop, 1 when it cannot start, 2 bad arguments.
int runGateway(QCoreApplication &app);
