#include "TcpTarget.h"

#include "TKVCOMControl.h"

namespace {

// Decimal, or hex with 0x: the way the command line reads every number.
bool parsePortNumber(QString digits, quint16 *port)
{
    digits = digits.trimmed();
    int base = 10;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        digits = digits.mid(2);
        base = 16;
    }
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
        *host = text;
    }
    if ((!portText.isEmpty() || text.endsWith(QLatin1Char(':')))
        && !parsePortNumber(portText, port))
        return false;
    return !host->isEmpty();
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
