// The MQTT command reader on fuzz-chosen topics, payloads, labels and preset names: it never
// crashes, and whatever it takes names only the switcher's outputs, inputs and presets, within
// the bounds; a payload over the bound is never taken. The option texts stay unique and never
// empty, whatever the labels.
#include "FuzzSupport.h"

#include "MqttCommand.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider fuzz(data, size);
    std::array<QString, GatewayPorts> labels;
    for (QString &label : labels)
        label = QString::fromStdString(fuzz.ConsumeRandomLengthString(12));
    std::array<GatewayPreset, GatewayPresets> presets = GatewayState::defaultPresets();
    for (GatewayPreset &preset : presets)
        preset.name = QString::fromStdString(fuzz.ConsumeRandomLengthString(12));
    static const char *const Topics[]
        = {"output/1/set", "output/6/set", "power/set", "preset/set", "salvo/set"};
    const QString topic = fuzz.ConsumeBool()
        ? QString::fromLatin1(Topics[fuzz.ConsumeIntegralInRange<std::size_t>(0, 4)])
        : QString::fromStdString(fuzz.ConsumeRandomLengthString(24));
    const std::string rest = fuzz.ConsumeRemainingBytesAsString();
    const QByteArray payload(rest.data(), qsizetype(rest.size()));

    const auto options = MqttCommand::inputOptions(labels);
    for (std::size_t i = 0; i < options.size(); ++i) {
        fuzzCheck(!options[i].isEmpty());
        for (std::size_t j = i + 1; j < options.size(); ++j)
            fuzzCheck(options[i] != options[j]);
    }
    const MqttCommand command = MqttCommand::parse(topic, payload, options, presets);
    switch (command.kind) {
    case MqttCommand::Kind::Invalid:
        fuzzCheck(!command.reason.isEmpty());
        break;
    case MqttCommand::Kind::Route:
        fuzzCheck(command.routes.size() == 1);
        break;
    case MqttCommand::Kind::Salvo:
        fuzzCheck(!command.routes.isEmpty() && command.routes.size() <= MqttCommand::MaxSalvo);
        break;
    case MqttCommand::Kind::Power:
        break;
    case MqttCommand::Kind::Preset:
        fuzzCheck(GatewayState::isPreset(command.preset));
        break;
    }
    for (const GatewayRoute &route : command.routes)
        fuzzCheck(GatewayState::isPort(route.output) && GatewayState::isPort(route.input));
    fuzzCheck(
        command.kind == MqttCommand::Kind::Invalid || payload.size() <= MqttCommand::MaxPayload);
    return 0;
}
