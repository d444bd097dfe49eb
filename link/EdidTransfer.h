#pragma once

#include "CommandPacket.h"

#include <QByteArray>

class TKVCOMControl;

// The EDID block transfers over the link: reading an output's EDID in 270-byte block frames,
// and downloading EDID data to inputs or user memories in the same frames. Each block is one
// exchange of the link; the link reports what goes wrong, and 2036 when a transfer is done.
class EdidTransfer final
{
public:
    explicit EdidTransfer(TKVCOMControl &link) : m_link(link) { }

    // The command that starts the read, then the blocks into `edid` (emptied first).
    void read(const CommandPacket &request, CommandResult &result, QByteArray &edid);
    // The command that starts the download, then `data` in blocks.
    void download(const CommandPacket &request, const QByteArray &data, CommandResult &result);

private:
    TKVCOMControl &m_link;
};
