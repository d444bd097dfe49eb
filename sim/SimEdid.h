#pragma once

#include "BlockFrame.h"
#include "DeviceProtocol.h"
#include "SimFrameHandler.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

class SwitcherSimulator;

// The switcher's EDID part: what each input presents to its source, the two user memories,
// the displays' EDIDs on the outputs, and the block transfers that read a display's EDID and
// download EDID data. It takes every EDID command (03/xx); the command interpreter still
// judges the plain ones and this part follows its verdict.
//
// Block read: 03/05 with word1 F000 + output starts it; then each 13-byte request with word1
// 00AA (start over), 0000 (next) or 00FF (again) is answered by a 270-byte frame: header with
// status AA (more) or 56 (last) and word2 the length, byte 13 the data checksum, the data.
// Download: 03/06 or 03/07 answered AA; then 270-byte frames, each acknowledged with status 00
// (taken) or FF (not taken); the one with word1 0056 completes it.
class SimEdid final : public SimFrameHandler
{
    Q_DISABLE_COPY_MOVE(SimEdid)
public:
    // Countdown faults of the block transfers; each spoils that many of the coming frames.
    struct Faults
    {
        int badBlockChecksum = 0; // read block: byte 13 does not match the data
        // Read block: the header's second lead byte is damaged (its checksum still holds: a
        // session seals every header it sends; SimFaults::corruptChecksum spoils that).
        int badBlockHeader = 0;
        int refuseBlock = 0; // read block with status FF; download frame not taken (FF)
        int oversizeBlock = 0; // read block whose word2 claims more than a frame holds
        int declineDownload = 0; // a download start answered 00 instead of AA
    };

    explicit SimEdid(SwitcherSimulator &simulator);

    Faults &faults() { return m_faults; }
    // Data bytes per read block (1..256); a real unit may send shorter blocks.
    void setBlockSize(int bytes);
    int blockSize() const { return m_blockSize; }

    QByteArray inputEdid(int input) const;
    QByteArray userEdid(int memory) const;
    // The display on an output: set here, else the n-th .bin file of the simulator's EDID
    // folder (in name order, wrapping around), else a built-in one.
    QByteArray displayEdid(int output) const;
    void setDisplayEdid(int output, const QByteArray &edid);
    // How many download frames were taken and read blocks sent since the start.
    int framesTaken() const { return m_framesTaken; }
    int blocksSent() const { return m_blocksSent; }

    qsizetype frameLength(const CommandPacket &header) const override;
    QByteArray handleFrame(const QByteArray &frame) override;

private:
    struct Read
    {
        QByteArray data;
        qsizetype offset = 0;
        qsizetype lastSize = 0;
    };
    struct Download
    {
        quint8 subcommand = 0;
        quint16 target = 0;
        QByteArray data;
    };

    QByteArray readBlock(const CommandPacket &request);
    QByteArray downloadFrame(const QByteArray &frame);
    void startTransfer(const CommandPacket &request);
    void applyCommand(const CommandPacket &request);
    void commit(const Download &download);
    QByteArray sourceEdid(quint16 modeWord) const;
    QByteArray folderEdid(int output) const;

    SwitcherSimulator &m_sim;
    Faults m_faults;
    int m_blockSize = BlockFrame::MaxData;
    std::array<QByteArray, DeviceProtocol::PortCount> m_inputs;
    std::array<QByteArray, 2> m_users;
    std::array<QByteArray, DeviceProtocol::PortCount>
        m_displays; // set by tests; empty = folder or built-in
    std::optional<Read> m_read;
    std::optional<Download> m_download;
    int m_framesTaken = 0;
    int m_blocksSent = 0;
};
