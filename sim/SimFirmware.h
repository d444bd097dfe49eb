#pragma once

#include "SimFrameHandler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

struct SwitcherState;

// The switcher's firmware loader. It takes the part starts (20/01 word1 1 for the main MCU,
// 20/02 word1 1..3 for the slaves), the main MCU's preparation steps (20/01 word1 0080 and
// 0010), the data blocks of a part and the reboot command 80/02.
//
// A start answers AA (go) or 44 (this version is refused). Each block's data checksum is
// checked: a good block gets 00, a bad one FF and must come again. Blocks are numbered from
// 0; the block before the expected one is taken again without storing it twice (its answer
// was lost). After the last block of the main MCU part, and after 80/02, the switcher is
// silent for the reboot time and then answers as before. While it reboots it answers
// nothing at all, so it must be asked before any other part of the switcher.
class SimFirmware final : public SimFrameHandler
{
public:
    static constexpr int DefaultRebootMs = 2000;

    // One part as received.
    struct Part
    {
        quint8 subcommand = 0;
        quint16 mcu = 0;
        quint16 version1 = 0;
        quint16 version2 = 0;
        QByteArray image;
        int blocks = 0;
        bool complete = false;
    };

    explicit SimFirmware(SwitcherState &state);

    // How long the switcher stays silent after a reboot starts.
    void setRebootMs(int ms) { m_rebootMs = ms; }
    int rebootMs() const { return m_rebootMs; }
    // Parts older than this version are refused with 44 (default 0.0: none).
    void setMinimumVersion(quint16 version1, quint16 version2);
    bool rebooting() const;

    // The last part received for each MCU, in the order first started.
    const QList<Part> &parts() const { return m_parts; }
    const Part *part(quint8 subcommand, quint16 mcu) const;

    qsizetype frameLength(const CommandPacket &header) const override;
    QByteArray handleFrame(const QByteArray &frame) override;

private:
    QByteArray start(const CommandPacket &request);
    QByteArray prepare(const CommandPacket &request);
    QByteArray block(const QByteArray &frame);
    QByteArray reboot(const CommandPacket &request);
    void startReboot();
    static bool isData(const CommandPacket &header);
    static QByteArray reply(const CommandPacket &request, quint8 status);

    SwitcherState &m_state;
    int m_rebootMs = DefaultRebootMs;
    quint32 m_minimumVersion = 0;
    QElapsedTimer m_rebootClock;
    QList<Part> m_parts;
    int m_current = -1; // index of the part being (or last) received since the last start
    int m_nextBlock = 0;
};
