#include "SimPty.h"

// Systems without pseudo terminals: the simulator serves TCP and in-process links only.

SimPty::SimPty(QObject *parent) : QObject(parent) { }

SimPty::~SimPty() = default;

bool SimPty::open(const QString &, QString *error)
{
    if (error)
        *error = QStringLiteral("this system has no pseudo terminals");
    return false;
}

void SimPty::write(const QByteArray &) { }
