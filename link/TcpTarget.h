#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QtGlobal>

// A switcher's network module as the programs' --tcp option names it: HOST, HOST:PORT or
// [IPv6]:PORT, the port decimal or 0x-hex, TKVCOMControl::DefaultTcpPort when none is given.
// False for an empty host, an unclosed bracket or a port that is not 1..65535.
bool parseTcpTarget(const QString &text, QString *host, quint16 *port);

// The serial port a --serial value names, as the path to open: a name that exists as given,
// relative or absolute, is that file (made absolute, since the serial port library would look
// for a bare or relative name under /dev); a bare name that does not exist is the device of that
// name under /dev ("ttyUSB0"). Ports stored in Settings.ini are not read through here.
QString serialTargetPath(const QString &text);

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
