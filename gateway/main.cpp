#include "GatewayProgram.h"
#include "ProgramOutput.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    checkStdoutAtExit("matrix-gateway");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrix-gateway"));
    // SIGINT or SIGTERM (Ctrl+C, the service manager) ends the event loop, so that the
    // servers close their clients and gateway.ini is left complete.
    if (QString why; !quitOnStopSignals(app, &why))
        QTextStream(stderr) << "matrix-gateway: " << why << Qt::endl;
    return runGateway(app);
}
