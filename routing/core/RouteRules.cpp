#include "RouteRules.h"

namespace RouteRules {

namespace {

QString portText(const QString &side, int port, const QString &tag, const QString &untagged)
{
    const QString name = side + QString::number(port);
    return tag.isEmpty() ? name + untagged : name + QStringLiteral(" - [") + tag + QLatin1Char(']');
}

QString tagOf(const TagLookup &tags, bool input, int port)
{
    return tags ? tags(input, port) : QString();
}

} // namespace

QString noteText(int output, int input, const TagLookup &tags)
{
    return portText(QStringLiteral("Output"), output, tagOf(tags, false, output), QString())
        + QStringLiteral(" from ")
        + portText(QStringLiteral("Input"), input, tagOf(tags, true, input), QString());
}

QString unknownNoteText(int output)
{
    return QStringLiteral("Output") + QString::number(output) + QStringLiteral(": unknown");
}

QStringList portInfoLines(const TagLookup &tags, bool *anyTag)
{
    QStringList lines;
    bool any = false;
    for (const bool input : {false, true}) {
        for (int port = 1; port <= DeviceProtocol::PortCount; ++port) {
            const QString tag = tagOf(tags, input, port);
            any = any || !tag.isEmpty();
            lines.append(portText(input ? QStringLiteral("Input") : QStringLiteral("Output"), port,
                tag, QStringLiteral(" - No tag")));
        }
    }
    if (anyTag)
        *anyTag = any;
    return lines;
}

} // namespace RouteRules
