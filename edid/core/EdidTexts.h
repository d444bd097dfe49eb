#pragma once

#include <QString>

// What the EDID page and matrixctl say to the operator.
namespace EdidTexts {

inline QString selectListItemFirst()
{
    return QStringLiteral("Select list item first");
}
// Shown with the output's number on a line of its own.
inline QString outputNotConnected(int output)
{
    return QStringLiteral("EDID can not be read because output not connected.\r\nOutput")
        + QString::number(output);
}
inline QString powerOff()
{
    return QStringLiteral("System is power off, please turn it on first.");
}
inline QString contentError()
{
    return QStringLiteral("EDID content error.");
}
inline QString contentEmpty()
{
    return QStringLiteral("EDID Content empty");
}
inline QString contentEmptyOpenFirst()
{
    return QStringLiteral("EDID Content empty, open EDID file first");
}
// An EDID read from a display that is not 256 (or 257) bytes long: the hex view and the file
// hold one 256-byte EDID.
inline QString readSizeNote(qsizetype size)
{
    return QStringLiteral("EDID of %1 bytes: view holds 256 only").arg(size);
}
inline QString readSizeRefused(int output, qsizetype size)
{
    return QStringLiteral("The EDID read from Output%1 is %2 bytes long.\r\n"
                          "The view holds 256-byte EDIDs only.")
        .arg(output)
        .arg(size);
}
inline QString overwriteQuestion(const QString &fileName)
{
    return fileName + QStringLiteral(" exists, overwrite it?");
}
// Filter of the open and save dialogs, in Qt's form.
inline QString fileFilter()
{
    return QStringLiteral("Binary file(*.bin)");
}

} // namespace EdidTexts
