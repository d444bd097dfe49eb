#include "EdidCommands.h"

#include "DeviceProtocol.h"

#include <algorithm>

namespace {

using namespace DeviceProtocol;

const QString Setting = QStringLiteral("Setting...");
const QString Copying = QStringLiteral("Copying...");
const QString Reading = QStringLiteral("Reading...");
const QString Downloading = QStringLiteral("Downloading...");

bool isPort(int n)
{
    return n >= 1 && n <= PortCount;
}

bool isInputChoice(int n)
{
    return isPort(n) || n == EdidAllInputsIndex;
}

} // namespace

QStringList edidModeLayout()
{
    return {
        QStringLiteral("Select EDID"),
        QStringLiteral("1080i, Stereo Audio 2.0"),
        QStringLiteral("1080i, Dolby/DTS 5.1"),
        QStringLiteral("1080i, HD Audio 7.1"),
        QStringLiteral("1080p, Stereo Audio 2.0"),
        QStringLiteral("1080p, Dolby/DTS 5.1"),
        QStringLiteral("1080p, HD Audio 7.1"),
        QStringLiteral("3D, Stereo Audio 2.0"),
        QStringLiteral("3D, Dolby/DTS 5.1"),
        QStringLiteral("3D, HD Audio 7.1"),
        QStringLiteral("4K2K, Stereo Audio 2.0"),
        QStringLiteral("4K2K, Dolby/DTS 5.1"),
        QStringLiteral("4K2K, HD Audio 7.1"),
        QStringLiteral("1024x768 DVI"),
        QStringLiteral("1920x1080 DVI"),
        QStringLiteral("1920x1200 DVI"),
        QStringLiteral("User1"),
        QStringLiteral("User2"),
        QStringLiteral("Default EDID"),
        QStringLiteral("Auto EDID"),
    };
}

QStringList edidModeList()
{
    QStringList modes = edidModeLayout();
    modes.removeLast();
    return modes;
}

bool isDefaultEdidEntry(const QStringList &modes, int index)
{
    return index > 0 && index == modes.size() - 1;
}

std::optional<quint16> edidModeCode(const QStringList &modes, int index)
{
    if (index <= 0 || index >= modes.size() || isDefaultEdidEntry(modes, index))
        return std::nullopt;
    const auto isUser
        = [](const QString &text) { return text.toUpper().contains(QLatin1String("USER")); };
    if (!isUser(modes[index]))
        return static_cast<quint16>(EdidWordBase + index);
    // Counted from the first user mode in the list, as the index difference.
    int firstUser = 1;
    while (!isUser(modes[firstUser]))
        ++firstUser;
    return static_cast<quint16>(EdidWordBase + ((index - firstUser + 1) << 8));
}

QString edidInputEntry(int input, const QString &tag)
{
    const QString entry = QStringLiteral("In") + QString::number(input);
    return tag.isEmpty() ? entry : entry + QStringLiteral(" - [") + tag + QLatin1Char(']');
}

QString edidOutputEntry(int output, const QString &tag)
{
    const QString entry = QStringLiteral("Out") + QString::number(output);
    return tag.isEmpty() ? entry : entry + QStringLiteral(" - [") + tag + QLatin1Char(']');
}

QStringList edidPortListItems(
    EdidPortList list, const QStringList &inputTags, const QStringList &outputTags)
{
    const bool inputs = list == EdidPortList::SetModeInput || list == EdidPortList::CopyInput
        || list == EdidPortList::DownloadInput;
    QStringList items{inputs ? QStringLiteral("Select Input") : QStringLiteral("Select Output")};
    for (int n = 1; n <= PortCount; ++n) {
        items += inputs ? edidInputEntry(n, inputTags.value(n - 1))
                        : edidOutputEntry(n, outputTags.value(n - 1));
    }
    if (inputs)
        items += QStringLiteral("All Inputs");
    if (list == EdidPortList::DownloadInput)
        items += {QStringLiteral("User1 Memory"), QStringLiteral("User2 Memory")};
    return items;
}

int edidEntryIndex(const QStringList &items, const QString &stored)
{
    return std::max<int>(0, static_cast<int>(items.indexOf(stored)));
}

std::optional<EdidCommand> edidSetModeCommand(const QStringList &modes, int mode, int input)
{
    if (mode <= 0 || mode >= modes.size() || !isInputChoice(input))
        return std::nullopt;
    const bool all = input == EdidAllInputsIndex;
    const auto in = static_cast<quint16>(input);
    if (isDefaultEdidEntry(modes, mode))
        return all ? EdidCommand{Setting, Command::Edid, EdidSub::AutoAll, QueryWord, 0}
                   : EdidCommand{Setting, Command::Edid, EdidSub::Auto, in, 0};
    const quint16 code = *edidModeCode(modes, mode);
    return all ? EdidCommand{Setting, Command::Edid, EdidSub::SetModeAll, code, 0}
               : EdidCommand{Setting, Command::Edid, EdidSub::SetMode, code, in};
}

std::optional<EdidCommand> edidCopyCommand(int output, int input)
{
    if (!isPort(output) || !isInputChoice(input))
        return std::nullopt;
    const auto out = static_cast<quint16>(output);
    if (input == EdidAllInputsIndex)
        return EdidCommand{Copying, Command::Edid, EdidSub::CopyAll, out, 0};
    return EdidCommand{Copying, Command::Edid, EdidSub::Copy, out, static_cast<quint16>(input)};
}

std::optional<EdidCommand> edidReadCommand(int output)
{
    if (!isPort(output))
        return std::nullopt;
    return EdidCommand{Reading, Command::Edid, EdidSub::Read, edidPortWord(output), 0};
}

std::optional<EdidCommand> edidDownloadCommand(int target)
{
    if (isPort(target))
        return EdidCommand{Downloading, Command::Edid, EdidSub::Download, edidPortWord(target), 0};
    if (target == EdidAllInputsIndex)
        return EdidCommand{Downloading, Command::Edid, EdidSub::DownloadAll, EdidAllInputs, 0};
    if (target == EdidUser1MemoryIndex || target == EdidUser2MemoryIndex) {
        const int memory = target - EdidAllInputsIndex;
        return EdidCommand{Downloading, Command::Edid, EdidSub::Download,
            static_cast<quint16>(EdidWordBase + (memory << 8)), 0};
    }
    return std::nullopt;
}

EdidCommand edidPrepareCommand(const QString &progress)
{
    return {progress, Command::Edid, EdidSub::Prepare, EdidPrepare, 0};
}

EdidCommand outputConnectionQuery(int output)
{
    return {QStringLiteral("Getting Output") + QString::number(output)
            + QStringLiteral(" connection ..."),
        Command::Device, DeviceSub::OutputConnection, static_cast<quint16>(output), 0};
}

quint8 outputConnectionState(const CommandResult &result)
{
    if (!result.Success)
        return OutputQueryFailed;
    return result.reply.answer() == 0 ? OutputConnected : OutputNotConnected;
}
