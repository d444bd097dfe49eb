#pragma once

#include "DeviceProtocol.h"

#include <QString>
#include <QStringList>

#include <array>

// Port tags and the name pools the tag editor offers, without widgets.

enum class TagSide { Input, Output };

// The twelve tags of one control mode and switcher.
struct PortTags
{
    std::array<QString, DeviceProtocol::PortCount> inputs;
    std::array<QString, DeviceProtocol::PortCount> outputs;

    std::array<QString, DeviceProtocol::PortCount> &side(TagSide s)
    {
        return s == TagSide::Input ? inputs : outputs;
    }
    const std::array<QString, DeviceProtocol::PortCount> &side(TagSide s) const
    {
        return s == TagSide::Input ? inputs : outputs;
    }
    // True when every tag is empty after trimming blanks: such sections are not kept.
    bool isBlank() const
    {
        for (const auto *tags : {&inputs, &outputs})
            for (const QString &t : *tags)
                if (!t.trimmed().isEmpty())
                    return false;
        return true;
    }

    bool operator==(const PortTags &) const = default;
};

// Sorted as the editor's boxes keep their items: without regard to letter case, then by case
// so that the order is stable.
QStringList sortedPool(QStringList names);

// The pool after an accepted edit: every non-empty entered name that the pool does not hold
// yet (compared without regard to letter case) is added once; the result is sorted.
QStringList mergeIntoPool(const QStringList &pool, const QStringList &entered);

// Whether a box other than box `index` holds exactly `name` (letter case counts).
bool nameInUseElsewhere(const QStringList &texts, int index, const QString &name);

// Tag texts as the pages show them.
// "In2 - [Blu-ray]" / "In2"
QString inputEntryText(int n, const QString &tag);
// "Out2 - [Projector] from" / "Out2 from"
QString outputFromText(int n, const QString &tag);
