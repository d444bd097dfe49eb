#pragma once

#include "DeviceProtocol.h"

#include <QString>
#include <QStringList>

#include <functional>

// The routing rules of the Setting page, free of widgets: the switcher's port range, stepping
// through the inputs, the output ranges of the right-click menu and the texts about routes.
namespace RouteRules {

// The count the "Port to Port" menu item carries.
constexpr int PortToPort = 100;
// The count "All Outputs" carries in the layout, before the window is first shown.
constexpr int AllOutputsAsBuilt = 8;

// The switcher handled has six inputs and six outputs; the window's ports 7 and 8 stay unused.
constexpr bool isPort(int n)
{
    return n >= 1 && n <= DeviceProtocol::PortCount;
}

// Step buttons carry 2k - 1 (previous) and 2k (next) for output k.
constexpr int stepOutput(int stepTag)
{
    return (stepTag + 1) / 2;
}
constexpr bool stepIsNext(int stepTag)
{
    return stepTag % 2 == 0;
}

// The input one step before or after current, wrapping at 1 and 6. A current input that is no
// port of the switcher (a stray route reply) steps to input 1 (next) or 6 (previous).
constexpr int stepInput(int current, bool next)
{
    if (!isPort(current))
        return next ? 1 : DeviceProtocol::PortCount;
    if (next)
        return current + 1 > DeviceProtocol::PortCount ? 1 : current + 1;
    return current - 1 <= 0 ? DeviceProtocol::PortCount : current - 1;
}

struct OutputRange
{
    int first = 1;
    int last = 0; // last < first: nothing to switch
};

// Outputs a menu item with this count switches when used on output `output`: all six for the
// counts 6 and PortToPort, else the output and the following ones, never beyond output 6.
constexpr OutputRange menuRange(int count, int output)
{
    if (count == DeviceProtocol::PortCount || count == PortToPort)
        return {1, DeviceProtocol::PortCount};
    const int last = output + count - 1;
    return {output, last > DeviceProtocol::PortCount ? DeviceProtocol::PortCount : last};
}

// The input output `output` gets from a menu item: its own number for "Port to Port", else
// the clicked input.
constexpr int menuInput(int count, int output, int clickedInput)
{
    return count == PortToPort ? output : clickedInput;
}

// A port's tag; empty when it has none.
using TagLookup = std::function<QString(bool input, int port)>;

// "Output2 - [Projector] from Input4" / "Output2 from Input4 - [Camera]".
QString noteText(int output, int input, const TagLookup &tags);

// An output whose route is not known (another switcher or control mode was chosen, or the
// switcher named an input it does not have) shows a dash on its display and no pressed button.
inline QString unknownRouteValue()
{
    return QStringLiteral("-");
}
// "Output3: unknown", the note line of such an output.
QString unknownNoteText(int output);

// The twelve lines of the tag pop-up (outputs 1-6, then inputs 1-6); anyTag is set when at
// least one port has a tag.
QStringList portInfoLines(const TagLookup &tags, bool *anyTag = nullptr);

} // namespace RouteRules
