#pragma once

#include <QString>
#include <QtGlobal>

// A switcher's network module as the programs' --tcp option names it: HOST, HOST:PORT or
// [IPv6]:PORT, the port decimal or 0x-hex, TKVCOMControl::DefaultTcpPort when none is given.
// False for an empty host, an unclosed bracket or a port that is not 1..65535.
bool parseTcpTarget(const QString &text, QString *host, quint16 *port);
