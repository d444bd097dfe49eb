#include "CtlCommand.h"

#include "DeviceProtocol.h"
#include "FileAccess.h"
#include "LinkStatusText.h"
#include "TKVCOMControl.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

CtlSession::CtlSession(TKVCOMControl &link, bool hasTarget, QTextStream &err)
    : m_link(link), m_session(link), m_hasTarget(hasTarget), m_err(err)
{
    QObject::connect(&link, &TKVCOMControl::notification, &link, [this](const LinkNotice &notice) {
        const QString text = linkStatusText(notice, m_link);
        const QString reason = linkFailureReason(notice);
        if (!text.isEmpty())
            m_failure = reason.isEmpty() ? text : text + QStringLiteral(": ") + reason;
    });
}

namespace {

// Why the path a serial port failed to open at is no serial port, by its kind; empty when it is
// a device that gave its own reason, or does not exist (the system's reason says so).
QString notSerialPortReason(const QString &path, const QString &systemReason)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (info.isDir())
        return QStringLiteral("it is a folder, not a serial port");
    if (info.isFile())
        return QStringLiteral("it is a regular file, not a serial port");
    // "it is a pipe, not a file", "it is a device, not a file", "it is a socket, not a file"
    const QString kind = FileAccess::notRegularReason(path).section(QLatin1Char(','), 0, 0);
    if (kind == QLatin1String("it is a device")) {
        if (!systemReason.isEmpty() && systemReason != QLatin1String("No error")
            && systemReason != QLatin1String("Unknown error"))
            return {};
        return QStringLiteral("it is a device that is not a serial port (not a terminal)");
    }
    return kind.isEmpty() ? QString() : kind + QStringLiteral(", not a serial port");
}

} // namespace

bool CtlSession::connect()
{
    if (!m_hasTarget)
        throw UsageError{QStringLiteral(
            "choose one of --tcp HOST[:PORT] and --serial PATH, or set MATRIXCTL_TARGET")};
    SwitcherOutcome opened = m_session.open();
    if (opened.ok())
        return true;
    // The window names the address alone; a script may have been given another port.
    const QString address = QStringLiteral("Connect ") + m_link.DeviceIP();
    if (m_link.ControlMode() == cmLAN && opened.reason.startsWith(address + QLatin1Char(' '))) {
        const QString host = m_link.DeviceIP().contains(QLatin1Char(':'))
            ? QLatin1Char('[') + m_link.DeviceIP() + QLatin1Char(']')
            : m_link.DeviceIP();
        opened.reason.replace(
            0, address.size(), QStringLiteral("Connect %1:%2").arg(host).arg(m_link.tcpPort()));
    }
    if (m_link.ControlMode() == cmCOM) {
        if (const QString kind = notSerialPortReason(m_link.ComPort(), opened.detail);
            !kind.isEmpty())
            opened.detail = kind;
    }
    report(opened);
    return false;
}

SwitcherOutcome CtlSession::runConnected(const SwitcherOperation &operation)
{
    if (!connect())
        return SwitcherOutcome::failed(SwitcherOutcome::Status::Lost, {});
    const SwitcherOutcome outcome = m_session.run(operation);
    if (!outcome.ok())
        report(outcome);
    return outcome;
}

SwitcherOutcome CtlSession::run(const SwitcherOperation &operation)
{
    return runConnected(operation);
}

bool CtlSession::execute(quint8 command, quint8 subcommand, quint16 word1, quint16 word2,
    quint16 word3, quint16 word4, CommandResult *out)
{
    const SwitcherOutcome outcome = runConnected(SwitcherOperation::command(
        QString(), false, command, subcommand, word1, word2, word3, word4));
    if (out) {
        out->reply = outcome.reply;
        out->Success = outcome.ok();
    }
    return outcome.ok();
}

void CtlSession::report(const SwitcherOutcome &outcome)
{
    m_errorCode = outcome.status == SwitcherOutcome::Status::Refused
        ? QStringLiteral("refused")
        : QStringLiteral("not_present");
    const QString message = outcome.message();
    m_err << (message.isEmpty() ? QStringLiteral("Failed") : message) << Qt::endl;
    m_failure.clear();
}

void CtlSession::reportFailure()
{
    m_errorCode = QStringLiteral("not_present");
    m_err << (m_failure.isEmpty() ? QStringLiteral("Failed") : m_failure) << Qt::endl;
    m_failure.clear();
}

void printJson(CtlContext &ctx, const QJsonObject &document)
{
    ctx.out << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact)) << '\n';
    ctx.printed = true;
}

QJsonObject errorJson(const QString &error, const QString &message)
{
    return {{QStringLiteral("error"), error}, {QStringLiteral("message"), message}};
}

std::optional<quint16> parseWord(const QString &text, bool hex)
{
    QString digits = text.trimmed();
    int base = hex ? 16 : 10;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        digits = digits.mid(2);
        base = 16;
    }
    bool ok = false;
    const uint value = digits.toUInt(&ok, base);
    if (!ok || digits.isEmpty() || value > 0xFFFF)
        return std::nullopt;
    return static_cast<quint16>(value);
}

std::optional<quint8> parseByte(const QString &text)
{
    const auto value = parseWord(text, true);
    if (!value || *value > 0xFF)
        return std::nullopt;
    return static_cast<quint8>(*value);
}

std::optional<int> parsePort(const QString &text)
{
    const auto value = parseWord(text);
    if (!value || *value < 1 || *value > DeviceProtocol::PortCount)
        return std::nullopt;
    return *value;
}

int portArgument(const QString &text, const char *name)
{
    const auto port = parsePort(text);
    if (!port)
        throw UsageError{QStringLiteral("%1 must be 1..%2")
                             .arg(QLatin1String(name))
                             .arg(DeviceProtocol::PortCount)};
    return *port;
}

QString hexBytes(const CommandPacket &packet)
{
    return QString::fromLatin1(packet.toByteArray().toHex(' ').toUpper());
}
