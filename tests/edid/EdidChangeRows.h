#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The EDID page's Set and Copy buttons with the lists they read, and the requests each click
// sends in order, as "CC/SS WORD1 WORD2". Shared by the suite of the whole window against the
// simulator and the suite of the page alone.
namespace EdidChangeRows {

using Choices = QList<QPair<QString, int>>; // list name, index to select

struct Row
{
    const char *name;
    QString button;
    Choices choices;
    QStringList expected;
};

inline QString prepare()
{
    return QStringLiteral("03/08 00F0 0000");
}

inline QList<Row> rows()
{
    const QString mode = QStringLiteral("cbEDIDMode");
    const QString setInput = QStringLiteral("cbSetEDIDModeInput");
    const QString copyOutput = QStringLiteral("cbCopyEDIDOutput");
    const QString copyInput = QStringLiteral("cbCopyEDIDInput");
    const QString set = QStringLiteral("btnSetEDIDMode");
    const QString copy = QStringLiteral("btnCopyEDID");
    return {
        {"User2 on In3", set, {{mode, 17}, {setInput, 3}},
            {prepare(), QStringLiteral("03/02 F200 0003")}},
        {"1080p Dolby on all", set, {{mode, 5}, {setInput, 7}},
            {prepare(), QStringLiteral("03/01 F005 0000")}},
        {"Default EDID on all", set, {{mode, 18}, {setInput, 7}},
            {prepare(), QStringLiteral("03/09 00FE 0000")}},
        {"Default EDID on In4", set, {{mode, 18}, {setInput, 4}},
            {prepare(), QStringLiteral("03/0A 0004 0000")}},
        // A copy first asks whether the output has a display.
        {"copy Out2 to In5", copy, {{copyOutput, 2}, {copyInput, 5}},
            {QStringLiteral("01/05 0002 0000"), prepare(), QStringLiteral("03/04 0002 0005")}},
        {"copy Out6 to all", copy, {{copyOutput, 6}, {copyInput, 7}},
            {QStringLiteral("01/05 0006 0000"), prepare(), QStringLiteral("03/03 0006 0000")}},
    };
}

} // namespace EdidChangeRows
