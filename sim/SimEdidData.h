#pragma once

#include <QByteArray>
#include <QtGlobal>

// The EDIDs the simulated switcher carries from the factory: one for each built-in EDID mode,
// the default EDID, the initial user memories and the displays on its outputs. Each is a
// 256-byte E-EDID 1.3 (a base block and a CTA-861 extension) with valid checksums.
namespace SimEdidData {

// For a set-mode word: 0xF001-0xF00F, 0xF012 (default EDID); empty for any other word.
QByteArray modeEdid(quint16 modeWord);
QByteArray defaultEdid();
// Initial content of user memory 1 or 2.
QByteArray userEdid(int memory);
// The display on output 1..6 (each a different monitor name and preferred timing).
QByteArray displayEdid(int output);

} // namespace SimEdidData
