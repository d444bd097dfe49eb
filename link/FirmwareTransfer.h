#pragma once

#include "CommandPacket.h"

#include <QByteArray>

class TKVCOMControl;

// One firmware part over the link: the start packet, the main MCU's preparation steps, the
// blocks of the unscrambled image, and the wait for the switcher to come back after it
// rebooted. Each packet is one exchange of the link, which reports what goes wrong.
class FirmwareTransfer final
{
public:
    explicit FirmwareTransfer(TKVCOMControl &link) : m_link(link) { }

    void transferSlavePart(
        const CommandPacket &request, const QByteArray &image, CommandResult &result);
    void transferMainPart(
        const CommandPacket &request, const QByteArray &image, CommandResult &result);
    // Waits while the switcher restarts, then probes it until it answers.
    void waitReboot(CommandResult &result);

private:
    bool acceptStep(const CommandPacket &request, CommandResult &result, quint8 expected);
    bool startPart(const CommandPacket &request, CommandResult &result);
    bool prepareMain(const CommandPacket &request, CommandResult &result);
    bool sendBlocks(
        const CommandPacket &request, const QByteArray &image, CommandResult &result, bool main);

    TKVCOMControl &m_link;
};
