#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// EDID content as the switcher's memories hold it: one 256-byte block, a base block and one
// extension. A buffer of 257 bytes is accepted too; its last byte is ignored.
constexpr int EdidBlockSize = 256;
constexpr int EdidMaxContentSize = 257;

// The first of the three content checks that fails, in the order they are made.
enum class EdidCheck {
    Ok,
    WrongSize, // not 256 or 257 bytes
    BadChecksum, // bytes 0..255 do not sum to 0 modulo 256
    BadHeader, // bytes 0..7 are not 00 FF FF FF FF FF FF 00
};

EdidCheck checkEdidContent(QByteArrayView bytes);
inline bool edidContentPasses(QByteArrayView bytes)
{
    return checkEdidContent(bytes) == EdidCheck::Ok;
}
// Why content was refused, for people reading a terminal ("size 128, not 256 or 257 bytes").
QString edidCheckReason(EdidCheck check, qsizetype size);

// What a person wants to know about an EDID at a glance, decoded from its base block.
struct EdidSummary
{
    bool decoded = false; // at least 128 bytes with the EDID header
    QString manufacturer; // three letters
    quint16 productCode = 0;
    QString monitorName; // from the name descriptor; empty when there is none
    QString preferredTiming; // "3840x2160@60", "1920x1080i@60"; empty when there is none
};

EdidSummary decodeEdidSummary(QByteArrayView bytes);
// One line: DEL 0x40EB "DELL U2717D" 2560x1440@60
QString edidSummaryLine(const EdidSummary &summary);
