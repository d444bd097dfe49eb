#include "SwitcherJson.h"

namespace SwitcherJson {

QJsonValue input(int input)
{
    return input >= 1 ? QJsonValue(input) : QJsonValue(QJsonValue::Null);
}

QJsonValue power(std::optional<bool> on)
{
    return on ? QJsonValue(*on) : QJsonValue(QJsonValue::Null);
}

QJsonArray routes(std::span<const int> inputs)
{
    QJsonArray array;
    for (const int in : inputs)
        array.append(input(in));
    return array;
}

QJsonObject route(int output, int in)
{
    return {{Output, output}, {Input, input(in)}};
}

QJsonObject preset(int n, const QString &name, std::span<const int> inputs)
{
    return {{Number, n}, {Name, name}, {Routes, routes(inputs)}};
}

QJsonObject identity(const SwitcherIdentity &identity)
{
    return {{Model, identity.model()}, {ModelNumber, identity.modelNumber},
        {Size, identity.size.text()}, {Version, identity.version.text()}};
}

std::optional<int> integerIn(const QJsonValue &value, int low, int high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < low || number > high || number != static_cast<double>(static_cast<int>(number)))
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace SwitcherJson
