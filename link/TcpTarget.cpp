#include "TcpTarget.h"

#include "TKVCOMControl.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <algorithm>

namespace {

// Decimal, or hex with 0x: the way the command line reads every number.
bool parsePortNumber(QString digits, quint16 *port)
{
    int base = 10;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        digits = digits.mid(2);
        base = 16;
    }
    // Digits only: toUInt() would take "+80" and " 80".
    const auto isDigit = [base](QChar c) {
        return c.isDigit() || (base == 16 && QStringLiteral("abcdefABCDEF").contains(c));
    };
    if (!std::all_of(digits.cbegin(), digits.cend(), isDigit))
        return false;
    bool ok = false;
    const uint value = digits.toUInt(&ok, base);
    if (!ok || digits.isEmpty() || value == 0 || value > 0xFFFF)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

} // namespace

bool parseTcpTarget(const QString &text, QString *host, quint16 *port)
{
    *port = TKVCOMControl::DefaultTcpPort;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        *host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        portText = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        *host = text.section(QLatin1Char(':'), 0, 0);
        portText = text.section(QLatin1Char(':'), 1);
    } else {
        // More than one colon: an IPv6 address without a port, or nothing the link can use
        // ("host:8000:9").
        if (text.contains(QLatin1Char(':'))
            && QHostAddress(text).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
        *host = text;
    }
    if ((!portText.isEmpty() || text.endsWith(QLatin1Char(':')))
        && !parsePortNumber(portText, port))
        return false;
    return !host->isEmpty();
}

QString serialTargetPath(const QString &text)
{
    const QFileInfo file(text);
    // exists() follows links; a dangling link is still the name the user gave.
    if (file.exists() || file.isSymLink() || text.contains(QLatin1Char('/')))
        return QDir::cleanPath(file.absoluteFilePath());
    return QStringLiteral("/dev/") + text;
}

LinkTargetOptions::LinkTargetOptions()
    : tcp(QStringLiteral("tcp"), QStringLiteral("Switcher's network module, port 8000 by default."),
        QStringLiteral("HOST[:PORT]")),
      serial(QStringLiteral("serial"), QStringLiteral("Serial port the switcher is attached to."),
          QStringLiteral("PATH"))
{ }

QString LinkTargetOptions::tcpValueError()
{
    return QStringLiteral("--tcp takes HOST or HOST:PORT");
}

QString LinkTargetOptions::serialValueError()
{
    return QStringLiteral("--serial takes the PATH of a serial port");
}
