#include "GatewayProgram.h"
#include "ProgramOutput.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    checkStdoutAtExit("matrix-gateway");
    // The service serves no glib sources, so it runs Qt's own event loop: that one is woken
    // once for all the events posted during a pass, the glib loop once for every event, and
    // each request posts several.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrix-gateway"));
    // SIGINT or SIGTERM (Ctrl+C, the service manager) ends the event loop, so that the
    // servers close their clients and gateway.ini is left complete.
    if (QString why; !quitOnStopSignals(app, &why))
        QTextStream(stderr) << "matrix-gateway: " << why << Qt::endl;
    return runGateway(app);
}
