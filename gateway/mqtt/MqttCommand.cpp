#include "MqttCommand.h"

#include "SwitcherJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringDecoder>

#include <optional>

namespace {

MqttCommand invalid(const QString &reason)
{
    MqttCommand command;
    command.reason = reason;
    return command;
}

// A plain decimal number in [low, high], nothing around it but blanks.
std::optional<int> plainNumber(const QString &text, int low, int high)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 3)
        return std::nullopt;
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int n = trimmed.toInt();
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

// Makes the texts unique: every text that appears more than once gets " (n)" after it, n being
// its place from 1, until none repeats (a label may itself end in " (2)").
template<std::size_t N>
std::array<QString, N> unique(std::array<QString, N> texts)
{
    for (bool again = true; again;) {
        again = false;
        std::array<bool, N> repeated{};
        for (std::size_t i = 0; i < N; ++i) {
            for (std::size_t j = 0; j < N; ++j) {
                if (i != j && texts[i] == texts[j])
                    repeated[i] = true;
            }
        }
        for (std::size_t i = 0; i < N; ++i) {
            if (repeated[i]) {
                texts[i] += QStringLiteral(" (%1)").arg(i + 1);
                again = true;
            }
        }
    }
    return texts;
}

MqttCommand salvo(const QString &text)
{
    const QString usage
        = QStringLiteral("Send {\"routes\": [{\"output\": 1..6, \"input\": 1..6}, ...]}, 1 to %1 "
                         "routes.")
              .arg(MqttCommand::MaxSalvo);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return invalid(QStringLiteral("The salvo is not a JSON object. ") + usage);
    const QJsonValue list = document.object().value(QStringLiteral("routes"));
    if (!list.isArray() || list.toArray().isEmpty()
        || list.toArray().size() > MqttCommand::MaxSalvo)
        return invalid(usage);
    MqttCommand command;
    command.kind = MqttCommand::Kind::Salvo;
    for (const QJsonValue &item : list.toArray()) {
        const QJsonObject route = item.toObject();
        const auto output
            = SwitcherJson::integerIn(route.value(QStringLiteral("output")), 1, GatewayPorts);
        const auto input
            = SwitcherJson::integerIn(route.value(QStringLiteral("input")), 1, GatewayPorts);
        if (!item.isObject() || !output || !input)
            return invalid(usage);
        command.routes.append(GatewayRoute{*output, *input});
    }
    return command;
}

} // namespace

MqttCommand MqttCommand::parse(const QString &topic, const QByteArray &payload,
    const std::array<QString, GatewayPorts> &inputOptions,
    const std::array<GatewayPreset, GatewayPresets> &presets)
{
    if (payload.size() > MaxPayload)
        return invalid(QStringLiteral("The payload has %1 bytes; a command takes at most %2.")
                           .arg(payload.size())
                           .arg(MaxPayload));
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(payload);
    if (decoder.hasError() || text.contains(QChar(0)))
        return invalid(QStringLiteral("The payload is not UTF-8 text."));

    const QStringList parts = topic.split(QLatin1Char('/'));
    if (parts.size() == 3 && parts[0] == QLatin1String("output")
        && parts[2] == QLatin1String("set")) {
        const auto output = plainNumber(parts[1], 1, GatewayPorts);
        if (!output || parts[1] != QString::number(*output))
            return invalid(QStringLiteral("There is no output \"%1\"; outputs are 1 to %2.")
                               .arg(parts[1].left(16))
                               .arg(GatewayPorts));
        std::optional<int> input;
        for (int n = 1; n <= GatewayPorts && !input; ++n) {
            if (inputOptions[GatewayState::index(n)] == text)
                input = n;
        }
        if (!input)
            input = plainNumber(text, 1, GatewayPorts);
        if (!input)
            return invalid(QStringLiteral("No input is called \"%1\"; send an input's name or a "
                                          "number 1 to %2.")
                               .arg(text.left(GatewayMaxLabelLength))
                               .arg(GatewayPorts));
        MqttCommand command;
        command.kind = Kind::Route;
        command.routes = {GatewayRoute{*output, *input}};
        return command;
    }
    if (parts.size() != 2 || parts[1] != QLatin1String("set"))
        return invalid(
            QStringLiteral("This gateway takes no command on \"%1\".").arg(topic.left(64)));
    if (parts[0] == QLatin1String("power")) {
        const QString word = text.trimmed().toUpper();
        if (word != QLatin1String("ON") && word != QLatin1String("OFF"))
            return invalid(QStringLiteral("Send ON or OFF."));
        MqttCommand command;
        command.kind = Kind::Power;
        command.on = word == QLatin1String("ON");
        return command;
    }
    if (parts[0] == QLatin1String("preset")) {
        std::optional<int> n;
        for (int p = 1; p <= GatewayPresets && !n; ++p) {
            if (!text.isEmpty() && presets[GatewayState::index(p)].name == text)
                n = p;
        }
        if (!n)
            n = plainNumber(text, 1, GatewayPresets);
        if (!n)
            return invalid(QStringLiteral("No preset is called \"%1\"; send a preset's name or a "
                                          "number 1 to %2.")
                               .arg(text.left(GatewayMaxLabelLength))
                               .arg(GatewayPresets));
        MqttCommand command;
        command.kind = Kind::Preset;
        command.preset = *n;
        return command;
    }
    if (parts[0] == QLatin1String("salvo"))
        return salvo(text);
    return invalid(QStringLiteral("This gateway takes no command on \"%1\".").arg(topic.left(64)));
}

std::array<QString, GatewayPorts> MqttCommand::inputOptions(
    const std::array<QString, GatewayPorts> &labels)
{
    std::array<QString, GatewayPorts> texts;
    for (int n = 1; n <= GatewayPorts; ++n) {
        const QString &label = labels[GatewayState::index(n)];
        texts[GatewayState::index(n)] = label.isEmpty() ? QStringLiteral("Input %1").arg(n) : label;
    }
    return unique(texts);
}

std::array<QString, GatewayPresets> MqttCommand::presetOptions(
    const std::array<GatewayPreset, GatewayPresets> &presets)
{
    std::array<QString, GatewayPresets> texts;
    for (int n = 1; n <= GatewayPresets; ++n) {
        const QString &name = presets[GatewayState::index(n)].name;
        texts[GatewayState::index(n)] = name.isEmpty() ? QStringLiteral("Preset %1").arg(n) : name;
    }
    return unique(texts);
}
