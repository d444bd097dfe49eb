#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Presets as the switcher's eight stored routings: a name and one input number per output.
// Values are kept as the texts they were stored as, so a value that is not a number, or a
// seventh value, survives editing and saving unchanged.

inline constexpr int PresetRows = 8;

struct PresetRow
{
    QString name;
    QStringList values; // values[k - 1] belongs to output k; may hold more than six

    bool operator==(const PresetRow &) const = default;
};

// "3,1" -> 3,1,1,2,3,4: fewer than six values are followed by 1, 2, 3, ... until there are
// six; an empty text holds no values at all and reads as 1..6.
QStringList decodePresetValue(const QString &text);
// The values joined by ",", all of them.
QString encodePresetValue(const QStringList &values);

// The input a preset routes to an output (1..6), or nothing when its value is 0, outside
// 1..6 or not a number: such an output has no input chosen.
std::optional<int> presetInput(const QStringList &values, int output);

// The entry the editor selects for an output (0-based input index): the value's input, -1
// (none) for a number outside 1..6, and input k for a value that is not a number.
int presetEditorIndex(const QStringList &values, int output);

// The operator's word for an output with no input chosen, e.g. "Output3: no input selected".
QString noInputSelectedText(int output);
