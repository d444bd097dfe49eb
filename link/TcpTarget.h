#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QtGlobal>

// A switcher's network module as the programs' --tcp option names it: HOST, HOST:PORT or
// [IPv6]:PORT, the port decimal or 0x-hex, TKVCOMControl::DefaultTcpPort when none is given.
// False for an empty host, an unclosed bracket or a port that is not 1..65535.
bool parseTcpTarget(const QString &text, QString *host, quint16 *port);

// The --tcp and --serial options through which matrixctl and matrix-gateway name the switcher,
// and what both say when a value cannot be used.
struct LinkTargetOptions
{
    LinkTargetOptions();

    QCommandLineOption tcp;
    QCommandLineOption serial;

    static QString tcpValueError();
    static QString serialValueError();
};
