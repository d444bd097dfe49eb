#include "CtlCommand.h"

#include "DeviceProtocol.h"
#include "PresetCodec.h"
#include "SettingsFile.h"
#include "SwitcherJson.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTextStream>

// Presets and port tags as the GUI stores them in Settings.ini.

bool readCtlSettings(CtlContext &ctx, AppSettings &settings)
{
    const SettingsRead read = SettingsFile::read(ctx.settingsPath);
    settings = read.settings;
    if (read.status == SettingsRead::Ok)
        return true;
    if (read.status == SettingsRead::Missing && !ctx.settingsNamed) {
        ctx.err << "matrixctl: no settings file " << ctx.settingsPath
                << "; the presets and tags are the defaults" << Qt::endl;
        return true;
    }
    ctx.err << "matrixctl: settings file " << ctx.settingsPath << ": " << read.reason << Qt::endl;
    return false;
}

namespace {

QStringList presetValues(const AppSettings &settings, int n)
{
    return decodePresetValue(settings.presets[size_t(n - 1)].value);
}

CtlJob preset(const QStringList &args)
{
    const QString what = args.value(0);
    if (what == QLatin1String("list") && args.size() == 1) {
        return [](CtlContext &ctx) {
            AppSettings settings;
            if (!readCtlSettings(ctx, settings))
                return ExitFailed;
            QJsonArray presets;
            for (int n = 1; n <= SettingsPresetCount; ++n) {
                const QStringList values = presetValues(settings, n);
                const QString name = settings.presets[size_t(n - 1)].name;
                if (!ctx.json) {
                    ctx.out << n << '\t' << name << '\t' << encodePresetValue(values) << '\n';
                    continue;
                }
                // Output by output: its input, or null when the preset chooses none.
                std::array<int, DeviceProtocol::PortCount> inputs{};
                for (int output = 1; output <= DeviceProtocol::PortCount; ++output)
                    inputs[std::size_t(output - 1)] = presetInput(values, output).value_or(0);
                presets.append(SwitcherJson::preset(n, name, inputs));
            }
            if (ctx.json)
                printJson(ctx, {{SwitcherJson::Presets, presets}});
            return ExitOk;
        };
    }
    if (what == QLatin1String("apply") && args.size() == 2) {
        bool ok = false;
        const int n = args[1].toInt(&ok);
        if (!ok || n < 1 || n > SettingsPresetCount)
            throw UsageError{QStringLiteral("N must be a preset number 1..8")};
        return [n](CtlContext &ctx) {
            AppSettings settings;
            if (!readCtlSettings(ctx, settings))
                return ExitFailed;
            const QStringList values = presetValues(settings, n);
            // Output by output, as the Set button does; earlier outputs stay switched.
            std::array<int, DeviceProtocol::PortCount> inputs{};
            for (int output = 1; output <= DeviceProtocol::PortCount; ++output) {
                const auto input = presetInput(values, output);
                if (!input) {
                    ctx.err << noInputSelectedText(output) << '\n';
                    return ExitFailed;
                }
                if (!ctx.device.setRoute(*input, output).ok()) {
                    ctx.err << "Output" << output << ": failed\n";
                    return ExitFailed;
                }
                inputs[std::size_t(output - 1)] = *input;
                if (!ctx.json)
                    ctx.out << "Output" << output << ": Input" << *input << '\n';
            }
            if (ctx.json)
                printJson(ctx, {{SwitcherJson::Routes, SwitcherJson::routes(inputs)}});
            return ExitOk;
        };
    }
    throw UsageError{QStringLiteral("preset takes list or apply N")};
}

QJsonObject jsonTags(const QString &mode, const QString &mac, const PortTags &tags)
{
    QJsonObject object{{QStringLiteral("mode"), mode}};
    if (!mac.isEmpty())
        object.insert(QStringLiteral("mac"), mac);
    for (const TagSide side : {TagSide::Input, TagSide::Output}) {
        QJsonArray names;
        for (const QString &name : tags.side(side))
            names.append(name);
        object.insert(
            side == TagSide::Input ? QStringLiteral("inputs") : QStringLiteral("outputs"), names);
    }
    return object;
}

void printTags(QTextStream &out, const QString &title, const PortTags &tags)
{
    out << title << '\n';
    for (const TagSide side : {TagSide::Input, TagSide::Output}) {
        const QString port
            = side == TagSide::Input ? QStringLiteral("Input") : QStringLiteral("Output");
        for (int n = 1; n <= DeviceProtocol::PortCount; ++n)
            out << "  " << port << n << ": " << tags.side(side)[size_t(n - 1)] << '\n';
    }
}

CtlJob tags(const QStringList &args)
{
    if (args != QStringList{QStringLiteral("list")})
        throw UsageError{QStringLiteral("tags takes list")};
    return [](CtlContext &ctx) {
        AppSettings settings;
        if (!readCtlSettings(ctx, settings))
            return ExitFailed;
        if (ctx.json) {
            QJsonArray sets{jsonTags(QStringLiteral("COM"), {}, settings.comTags)};
            for (auto it = settings.lanTags.cbegin(); it != settings.lanTags.cend(); ++it)
                sets.append(jsonTags(QStringLiteral("TCP"), it.key(), it.value()));
            printJson(ctx, {{QStringLiteral("tags"), sets}});
            return ExitOk;
        }
        printTags(ctx.out, QStringLiteral("COM"), settings.comTags);
        for (auto it = settings.lanTags.cbegin(); it != settings.lanTags.cend(); ++it)
            printTags(ctx.out, QStringLiteral("TCP ") + it.key(), it.value());
        return ExitOk;
    };
}

} // namespace

void addPresetCommands(CtlCommandTable &table)
{
    table.append({QStringLiteral("preset"),
        QStringLiteral(
            "preset list                   the eight presets of Settings.ini: number, name, "
            "inputs\n"
            "preset apply N                route outputs 1-6 as preset N says, one by one"),
        preset});
    table.append({QStringLiteral("tags"),
        QStringLiteral("tags list                     port tags of COM mode and of each switcher"),
        tags});
}
