#include "RouteRules.h"

namespace RouteRules {

namespace {

QString PortText(const QString &side, int port, const QString &tag, const QString &untagged)
{
    const QString name = side + QString::number(port);
    return tag.isEmpty() ? name + untagged : name + QStringLiteral(" - [") + tag + QLatin1Char(']');
}

QString TagOf(const TagLookup &tags, bool input, int port)
{
    return tags ? tags(input, port) : QString();
}

} // namespace

QString NoteText(int output, int input, const TagLookup &tags)
{
    return PortText(QStringLiteral("Output"), output, TagOf(tags, false, output), QString())
        + QStringLiteral(" from ")
        + PortText(QStringLiteral("Input"), input, TagOf(tags, true, input), QString());
}

QString UnknownNoteText(int output)
{
    return QStringLiteral("Output") + QString::number(output) + QStringLiteral(": unknown");
}

QStringList PortInfoLines(const TagLookup &tags, bool *anyTag)
{
    QStringList lines;
    bool any = false;
    for (const bool input : {false, true}) {
        for (int port = 1; port <= DeviceProtocol::PortCount; ++port) {
            const QString tag = TagOf(tags, input, port);
            any = any || !tag.isEmpty();
            lines.append(PortText(input ? QStringLiteral("Input") : QStringLiteral("Output"), port,
                tag, QStringLiteral(" - No tag")));
        }
    }
    if (anyTag)
        *anyTag = any;
    return lines;
}

} // namespace RouteRules
