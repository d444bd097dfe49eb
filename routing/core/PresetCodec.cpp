#include "PresetCodec.h"

#include "DeviceProtocol.h"

namespace {

// The value text as a decimal number, if it is one.
std::optional<int> decimal(const QStringList &values, int output)
{
    if (output < 1 || output > values.size())
        return std::nullopt;
    bool ok = false;
    const int v = values.at(output - 1).toInt(&ok, 10);
    return ok ? std::optional<int>(v) : std::nullopt;
}

} // namespace

QStringList decodePresetValue(const QString &text)
{
    QStringList values = text.isEmpty() ? QStringList() : text.split(QLatin1Char(','));
    for (int n = 0; values.size() < DeviceProtocol::PortCount; ++n)
        values.append(QString::number(n % DeviceProtocol::PortCount + 1));
    return values;
}

QString encodePresetValue(const QStringList &values)
{
    return values.join(QLatin1Char(','));
}

std::optional<int> presetInput(const QStringList &values, int output)
{
    const auto v = decimal(values, output);
    if (!v || *v < 1 || *v > DeviceProtocol::PortCount)
        return std::nullopt;
    return v;
}

int presetEditorIndex(const QStringList &values, int output)
{
    const auto v = decimal(values, output);
    if (!v)
        return output - 1;
    return *v >= 1 && *v <= DeviceProtocol::PortCount ? *v - 1 : -1;
}

QString noInputSelectedText(int output)
{
    return QStringLiteral("Output") + QString::number(output)
        + QStringLiteral(": no input selected");
}
