#pragma once

#include "CommandPacket.h"

#include <QByteArray>
#include <QtGlobal>

// A part of the switcher that takes over some requests: the EDID memories and their block
// transfers, the firmware loader. Parts are asked in turn before the command interpreter.
class SimFrameHandler
{
public:
    virtual ~SimFrameHandler() = default;

    // How many bytes the frame that starts with this header has, when this part takes it;
    // 0 when it is not this part's frame. Plain requests are 13 bytes; data frames are longer.
    virtual qsizetype frameLength(const CommandPacket &header) const = 0;
    // Answers a frame this part took; the reply may be longer than 13 bytes (a data block).
    // An empty reply keeps the switcher silent.
    virtual QByteArray handleFrame(const QByteArray &frame) = 0;
};
