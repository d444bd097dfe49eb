#include "CtlCommand.h"

#include "LinkStatusText.h"
#include "TKVCOMControl.h"

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

bool CtlSession::connect()
{
    if (!m_hasTarget)
        throw UsageError{QStringLiteral(
            "choose one of --tcp HOST[:PORT] and --serial PATH, or set MATRIXCTL_TARGET")};
    const SwitcherOutcome opened = m_session.open();
    if (opened.ok())
        return true;
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
    const QString message = outcome.message();
    m_err << (message.isEmpty() ? QStringLiteral("Failed") : message) << Qt::endl;
    m_failure.clear();
}

void CtlSession::reportFailure()
{
    m_err << (m_failure.isEmpty() ? QStringLiteral("Failed") : m_failure) << Qt::endl;
    m_failure.clear();
}

void printJson(CtlContext &ctx, const QJsonObject &document)
{
    ctx.out << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact)) << '\n';
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
    if (!value || *value < 1 || *value > 0xFF)
        return std::nullopt;
    return *value;
}

QString hexBytes(const CommandPacket &packet)
{
    return QString::fromLatin1(packet.toByteArray().toHex(' ').toUpper());
}
