#include "VideohubProtocol.h"

#include "ClientAddresses.h"
#include "GatewayLabel.h"

#include <QCryptographicHash>

#include <optional>

namespace {

constexpr char PreambleHeader[] = "PROTOCOL PREAMBLE:";
constexpr char DeviceHeader[] = "VIDEOHUB DEVICE:";
constexpr char InputLabelsHeader[] = "INPUT LABELS:";
constexpr char OutputLabelsHeader[] = "OUTPUT LABELS:";
constexpr char LocksHeader[] = "VIDEO OUTPUT LOCKS:";
constexpr char RoutingHeader[] = "VIDEO OUTPUT ROUTING:";
constexpr char ConfigurationHeader[] = "CONFIGURATION:";
constexpr char PingHeader[] = "PING:";
constexpr char FriendlyNameField[] = "Friendly name:";
constexpr char TakeModeField[] = "Take Mode:";
constexpr char EndPreludeHeader[] = "END PRELUDE:";

// A 0-based port on the wire: decimal digits only, within the switcher's ports. 1-based out.
int wirePort(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 3)
        return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value < GatewayPorts ? value + 1 : 0;
}

QList<int> allPorts()
{
    QList<int> ports;
    for (int n = 1; n <= GatewayPorts; ++n)
        ports.append(n);
    return ports;
}

QByteArray line(int port, const QByteArray &value)
{
    return QByteArray::number(port - 1) + ' ' + value + '\n';
}

VideohubRequest nak(const QString &reason)
{
    VideohubRequest request;
    request.reason = reason;
    return request;
}

// The value of a "Name: value" line, without the space after the colon; nullopt when the line
// is another field.
std::optional<QByteArrayView> fieldValue(const QByteArray &line, QByteArrayView field)
{
    if (!line.startsWith(field))
        return std::nullopt;
    QByteArrayView value = QByteArrayView(line).sliced(field.size());
    if (value.startsWith(' '))
        value = value.sliced(1);
    return value;
}

// A client names the device: one "Friendly name:" line, nothing else.
VideohubRequest decodeDevice(const VideohubParser::Block &block)
{
    const auto value = block.lines.size() == 1 ? fieldValue(block.lines.first(), FriendlyNameField)
                                               : std::nullopt;
    if (!value)
        return nak(QStringLiteral("a client sets only the device's \"Friendly name:\""));
    QString name;
    if (!GatewayLabel::fromUtf8(*value, &name))
        return nak(QStringLiteral("a friendly name is not valid UTF-8 text"));
    // As with labels: a long name is shortened, anything else that breaks the rule refused.
    if (const auto problem = GatewayLabel::problem(name);
        problem != GatewayLabel::Problem::None && problem != GatewayLabel::Problem::TooLong)
        return nak(GatewayLabel::problemText(problem, QStringLiteral("a friendly name")));
    VideohubRequest request;
    request.kind = VideohubRequest::FriendlyName;
    request.block = VideohubBlockKind::Device;
    request.friendlyName = GatewayLabel::cut(name);
    return request;
}

// Take Mode (routes held until a "take") is not offered: asking to keep it off is taken,
// asking to turn it on is not.
VideohubRequest decodeConfiguration(const VideohubParser::Block &block)
{
    for (const QByteArray &text : block.lines) {
        const auto value = fieldValue(text, TakeModeField);
        if (!value || value->trimmed() != "false")
            return nak(QStringLiteral("only \"Take Mode: false\" is taken"));
    }
    VideohubRequest request;
    request.kind = VideohubRequest::Configuration;
    request.block = VideohubBlockKind::Configuration;
    return request;
}

} // namespace

// Parser

void VideohubParser::feed(QByteArrayView bytes, QList<Block> *blocks)
{
    // A line may hold one byte beyond the bound for the CR of a CR LF ending; one more byte
    // than that shows it is too long, and the rest up to its LF is never stored.
    const qsizetype keep = qsizetype(m_limits.maxLineBytes) + 1;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        const qsizetype stop = end < 0 ? bytes.size() : end;
        if (!m_lineTooLong) {
            const qsizetype take = std::min<qsizetype>(stop - at, keep + 1 - m_line.size());
            m_line.append(bytes.sliced(at, take));
            if (m_line.size() > keep) {
                m_lineTooLong = true;
                m_line.clear();
            }
        }
        if (end < 0)
            return;
        endLine(blocks);
        at = end + 1;
    }
}

void VideohubParser::endLine(QList<Block> *blocks)
{
    if (m_line.endsWith('\r'))
        m_line.chop(1);
    const bool tooLong = m_lineTooLong || m_line.size() > m_limits.maxLineBytes;
    m_lineTooLong = false;
    QByteArray text = std::move(m_line);
    m_line = QByteArray();
    // A line over the bound is never kept, not even the part that came before the bound.
    if (tooLong)
        text.clear();

    if (!tooLong && text.isEmpty()) {
        // Empty lines between blocks are nothing; one inside a block ends it.
        if (m_open) {
            blocks->append(std::move(m_block));
            m_block = Block();
            m_open = false;
        }
        return;
    }
    if (!m_open) {
        m_open = true;
        m_block = Block();
        m_block.overflowed = tooLong;
        m_block.header = std::move(text);
        return;
    }
    if (tooLong || m_block.lines.size() >= m_limits.maxBlockLines) {
        m_block.overflowed = true;
        return;
    }
    m_block.lines.append(std::move(text));
}

void VideohubParser::reset()
{
    m_block = Block();
    m_open = false;
    m_line.clear();
    m_lineTooLong = false;
}

// Requests

VideohubRequest decodeVideohubRequest(const VideohubParser::Block &block)
{
    if (block.overflowed)
        return nak(QStringLiteral("a line or the block is too long"));
    const QByteArray &header = block.header;
    VideohubRequest request;
    if (header == PingHeader) {
        if (!block.lines.isEmpty())
            return nak(QStringLiteral("PING takes no lines"));
        request.kind = VideohubRequest::Ping;
        return request;
    }
    static const QList<std::pair<QByteArray, VideohubBlockKind>> kinds = {
        {PreambleHeader, VideohubBlockKind::Preamble},
        {DeviceHeader, VideohubBlockKind::Device},
        {InputLabelsHeader, VideohubBlockKind::InputLabels},
        {OutputLabelsHeader, VideohubBlockKind::OutputLabels},
        {LocksHeader, VideohubBlockKind::Locks},
        {RoutingHeader, VideohubBlockKind::Routing},
        {ConfigurationHeader, VideohubBlockKind::Configuration},
    };
    const auto known = std::find_if(
        kinds.begin(), kinds.end(), [&](const auto &kind) { return kind.first == header; });
    if (known == kinds.end())
        return nak(QStringLiteral("unknown block \"%1\"")
                       .arg(QString::fromUtf8(header.left(64)).toHtmlEscaped()));
    request.block = known->second;
    if (block.lines.isEmpty()) {
        request.kind = VideohubRequest::Query;
        return request;
    }
    if (request.block == VideohubBlockKind::Device)
        return decodeDevice(block);
    if (request.block == VideohubBlockKind::Configuration)
        return decodeConfiguration(block);

    for (const QByteArray &text : block.lines) {
        const qsizetype space = text.indexOf(' ');
        const QByteArrayView first = QByteArrayView(text).first(space < 0 ? text.size() : space);
        const QByteArrayView rest
            = space < 0 ? QByteArrayView() : QByteArrayView(text).sliced(space + 1);
        const int port = wirePort(first);
        if (port == 0)
            return nak(
                QStringLiteral("no port of this switcher: \"%1\"")
                    .arg(QString::fromUtf8(first.first(std::min<qsizetype>(first.size(), 16)))));
        switch (request.block) {
        case VideohubBlockKind::Routing: {
            const int input = wirePort(rest);
            if (space < 0 || input == 0)
                return nak(QStringLiteral("a route is \"output input\", both 0 to %1")
                               .arg(GatewayPorts - 1));
            request.kind = VideohubRequest::Routes;
            request.routes.append({port, input});
            break;
        }
        case VideohubBlockKind::InputLabels:
        case VideohubBlockKind::OutputLabels: {
            QString label;
            if (!GatewayLabel::fromUtf8(rest, &label))
                return nak(QStringLiteral("a label is not valid UTF-8 text"));
            // Panels send their names whole and expect a long one to be shortened.
            if (const auto problem = GatewayLabel::problem(label);
                problem != GatewayLabel::Problem::None && problem != GatewayLabel::Problem::TooLong)
                return nak(GatewayLabel::problemText(problem, QStringLiteral("a label")));
            label = GatewayLabel::cut(label);
            request.kind = VideohubRequest::Labels;
            request.labels.append({port, label});
            break;
        }
        case VideohubBlockKind::Locks: {
            // Some panels end the line with a space after the letter.
            const QByteArrayView letter = rest.trimmed();
            if (letter.size() != 1 || (letter[0] != 'O' && letter[0] != 'U' && letter[0] != 'F'))
                return nak(QStringLiteral("a lock is \"output O\", \"output U\" or \"output F\""));
            request.kind = VideohubRequest::Locks;
            request.locks.append({port, letter[0]});
            break;
        }
        case VideohubBlockKind::Preamble:
            return nak(QStringLiteral("only the server sends this block"));
        case VideohubBlockKind::Device:
        case VideohubBlockKind::Configuration:
            break; // fields, not ports: decoded before this loop
        }
    }
    return request;
}

// Blocks

namespace Videohub {

QByteArray ack()
{
    return QByteArrayLiteral("ACK\n\n");
}

QByteArray nak()
{
    return QByteArrayLiteral("NAK\n\n");
}

QByteArray endPrelude()
{
    return QByteArray(EndPreludeHeader) + "\n\n";
}

QByteArray preamble()
{
    return QByteArray(PreambleHeader) + "\nVersion: " + ProtocolVersion + "\n\n";
}

QByteArray deviceBlock(const GatewayState &state, const QString &id)
{
    QByteArray out = QByteArray(DeviceHeader) + '\n';
    if (!state.devicePresent())
        return out + "Device present: false\n\n";
    const QByteArray model = state.model.isEmpty() ? QByteArray(GatewayDefaultModel)
                                                   : singleLine(state.model).toUtf8();
    out += "Device present: true\n";
    out += "Model name: " + model + '\n';
    out += "Friendly name: " + singleLine(state.shownName()).toUtf8() + '\n';
    out += "Unique ID: " + id.toLatin1() + '\n';
    out += "Video inputs: " + QByteArray::number(GatewayPorts) + '\n';
    out += "Video processing units: 0\n";
    out += "Video outputs: " + QByteArray::number(GatewayPorts) + '\n';
    out += "Video monitoring outputs: 0\n";
    out += "Serial ports: 0\n\n";
    return out;
}

QByteArray configurationBlock()
{
    return QByteArray(ConfigurationHeader) + '\n' + TakeModeField + " false\n\n";
}

QByteArray labelsBlock(GatewaySide side, const GatewayState &state, const QList<int> &ports)
{
    QByteArray out = side == GatewaySide::Input ? InputLabelsHeader : OutputLabelsHeader;
    out += '\n';
    for (int port : ports.isEmpty() ? allPorts() : ports) {
        // A panel's button needs a name: a port without a label shows its own.
        QString label = singleLine(state.label(side, port));
        if (label.trimmed().isEmpty())
            label = (side == GatewaySide::Input ? QStringLiteral("Input ")
                                                : QStringLiteral("Output "))
                + QString::number(port);
        out += line(port, label.toUtf8());
    }
    return out + '\n';
}

QByteArray locksBlock(
    const GatewayState &state, const QHostAddress &client, const QList<int> &outputs)
{
    const QHostAddress self = ClientPolicy::plain(client);
    QByteArray out = QByteArray(LocksHeader) + '\n';
    for (int output : outputs.isEmpty() ? allPorts() : outputs) {
        const QHostAddress owner = state.lockOwner(output);
        const char letter = owner.isNull() ? 'U' : !self.isNull() && owner == self ? 'O' : 'L';
        out += line(output, QByteArray(1, letter));
    }
    return out + '\n';
}

QByteArray routingBlock(const GatewayState &state, const QList<int> &outputs)
{
    QByteArray out = QByteArray(RoutingHeader) + '\n';
    for (int output : outputs.isEmpty() ? allPorts() : outputs) {
        const int input = state.route(output);
        if (input > 0)
            out += line(output, QByteArray::number(input - 1));
    }
    return out + '\n';
}

QByteArray block(VideohubBlockKind kind, const GatewayState &state, const QHostAddress &client,
    const QString &id)
{
    switch (kind) {
    case VideohubBlockKind::Preamble:
        return preamble();
    case VideohubBlockKind::Device:
        return deviceBlock(state, id);
    case VideohubBlockKind::InputLabels:
        return labelsBlock(GatewaySide::Input, state);
    case VideohubBlockKind::OutputLabels:
        return labelsBlock(GatewaySide::Output, state);
    case VideohubBlockKind::Locks:
        return locksBlock(state, client);
    case VideohubBlockKind::Routing:
        return routingBlock(state);
    case VideohubBlockKind::Configuration:
        return configurationBlock();
    }
    return {};
}

QByteArray statusDump(const GatewayState &state, const QHostAddress &client, const QString &id)
{
    // The true state or none: without the switcher, nothing it could contradict.
    if (!state.devicePresent())
        return preamble() + deviceBlock(state, id);
    return preamble() + deviceBlock(state, id) + labelsBlock(GatewaySide::Input, state)
        + labelsBlock(GatewaySide::Output, state) + locksBlock(state, client) + routingBlock(state)
        + configurationBlock() + EndPreludeHeader + "\n\n";
}

QString uniqueId(const QString &linkTarget)
{
    const QByteArray hash
        = QCryptographicHash::hash(linkTarget.toUtf8(), QCryptographicHash::Sha1).toHex().toUpper();
    return QString::fromLatin1(hash.left(12));
}

QString singleLine(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar &c : out) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0x2028)
            || c == QChar(0x2029) || c == QChar(0x85))
            c = QLatin1Char(' ');
    }
    return out;
}

} // namespace Videohub
