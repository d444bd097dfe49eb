#pragma once

#include "BlockFrame.h"
#include "CommandPacket.h"
#include "EventWait.h"
#include "LinkMessage.h"
#include "Timing.h"

#include <QBuffer>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class Transport;

Q_DECLARE_LOGGING_CATEGORY(lcLink)

enum TControlMode { cmLAN = 0, cmCOM = 1 };
enum TUDPMode { umBROADCAST = 0, umNORMAL = 1 };

// What the link expects next on the wire; it decides how many bytes make a frame.
enum class FrameKind : int {
    Reply = 0, // 13-byte reply
    EdidBlock = 1, // 270-byte EDID block frame
    SlaveAck = 3, // 13-byte firmware acknowledgement (slave MCU)
    MainAck = 4, // 13-byte firmware acknowledgement (main MCU)
    ModuleFrame = 6, // 32-byte network module frame
};

// The one link to the switcher: owns the transports, runs request/reply transactions and
// reports what happens through numbered notifications. Everything runs on the GUI thread;
// waits run a local event loop that ends the moment a frame is complete.
class TKVCOMControl final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TKVCOMControl)
public:
    static constexpr quint16 DefaultTcpPort = 8000;
    static constexpr int Attempts = 5;
    static constexpr int ReceiveBufferSize = BlockFrame::Size;
    static constexpr int MaxLead = 32; // longest lead a frame start is found by

    explicit TKVCOMControl(QObject *parent = nullptr);
    ~TKVCOMControl() override;

    // Connection settings
    QString ComPort() const { return m_comPort; }
    void setComPort(const QString &port) { m_comPort = port; }
    QString DeviceIP() const { return m_deviceIP; }
    void setDeviceIP(const QString &ip) { m_deviceIP = ip; }
    quint16 tcpPort() const { return m_tcpPort; }
    void setTcpPort(quint16 port) { m_tcpPort = port; }
    TControlMode ControlMode() const { return m_controlMode; }
    // Also ends the search and configuration busy states; an open transport stays open.
    void setControlMode(TControlMode mode);
    TUDPMode UDPMode() const { return m_udpMode; }
    void setUDPMode(TUDPMode mode) { m_udpMode = mode; }

    bool Connected() const;
    // Busy flags
    bool Connecting() const { return m_connecting; }
    bool Searching() const { return m_searching; }
    void setSearching(bool on) { m_searching = on; }
    bool Configuring() const { return m_configuring; }
    void setConfiguring(bool on) { m_configuring = on; }

    // Set when the program is stopping: every wait ends and no new transaction starts.
    bool StopRequested() const { return m_stop.requested(); }
    void setStopRequested(bool stop);
    // What other components bind their waits to, so that a stop ends them too.
    const StopRequest &stopRequest() const { return m_stop; }

    const Timing &timing() const { return m_timing; }
    void setTiming(const Timing &timing) { m_timing = timing; }

    // Replaces the transport used in a control mode (tests use an in-process one).
    void setTransport(TControlMode mode, std::unique_ptr<Transport> transport);
    Transport *transport(TControlMode mode) const;

    // Lifecycle. Failures are reported by notification 2032 and a false result.
    bool Connect();
    bool Disconnect();

    // One request/reply transaction with up to five attempts.
    void ExecuteCommand(const CommandPacket &request, CommandResult &result);

    // EDID block transfers (EdidTransfer.cpp). A read fills EDIDReadStream; a download sends
    // SendStream from its start.
    void ReadEDIDBlocks(const CommandPacket &request, CommandResult &result);
    void DownloadEDIDBlocks(const CommandPacket &request, CommandResult &result);
    QByteArray &EDIDReadStream() { return m_edidReadStream; }

    // Firmware parts (FirmwareTransfer.cpp): one part, unscrambled in SendStream, then the
    // wait for the switcher to come back.
    void TransferSlavePart(const CommandPacket &request, CommandResult &result);
    void TransferMainPart(const CommandPacket &request, CommandResult &result);
    void WaitReboot(CommandResult &result);

    // Data a block transfer sends (an EDID file, a firmware part).
    QBuffer &SendStream() { return m_sendStream; }
    bool RestartPending() const { return m_restartPending; }

    // One frame out and its answer in: the storage is reset for the answer's kind, the frame
    // sent, `sent` called (for traces and dumps), then the wait for the complete answer. A
    // transport that breaks on the way posts 2031 and gives Failed. The answer starts with
    // `lead` (empty: the kind's own lead, FrameLead). A time-out drains the line for the
    // grace period before the next frame goes out (DrainLateReplies).
    enum class Exchange { Answered, TimedOut, Stopped, Failed };
    Exchange SendAndWait(const QByteArray &frame, FrameKind answer,
        const std::function<void()> &sent = {}, const QByteArray &lead = {});

    // Low-level pieces used by the transactions and the block transfers.
    qint64 SendBuffer(const QByteArray &bytes);
    // Waits for a complete frame; false when a stop was requested.
    bool WaitReply();
    // Waits n ticks; false when a stop was requested.
    bool WaitTicks(int n);
    // A pause that keeps the window responsive; false when a stop was requested.
    bool Pause(int ms);
    // After a time-out, whatever arrives within the grace period is the late answer to a
    // request already given up; it is discarded (and traced) rather than taken for the reply
    // to a later request, which echoes the same command. Waits for the rest of the period;
    // false when a stop was requested.
    bool DrainLateReplies();
    bool Draining() const { return !m_drainUntil.hasExpired(); }
    int TickCount() const { return m_tickCount; }
    bool TimedOut() const { return m_tickCount >= m_timing.replyTicks; }
    // The transport failed since the last reset of the receive state.
    bool TransportFailed() const { return m_transportFailed; }

    // Receive storage. Until a frame's lead bytes are in, bytes that cannot start it are
    // line noise and dropped; after them everything belongs to the frame.
    static int FrameLength(FrameKind kind);
    // A5 5B for the command packet kinds; nothing for module frames, whose lead belongs to
    // the network module (callers pass it).
    static QByteArray FrameLead(FrameKind kind);
    void ResetReceiveState(FrameKind kind, const QByteArray &lead = {});
    void StoreReceived(const QByteArray &bytes);
    FrameKind frameKind() const { return m_frameKind; }
    bool FrameComplete() const { return m_frameComplete; }
    int ReceivePosition() const { return m_receivePosition; }
    // The stored bytes of the current frame (the whole frame once complete).
    QByteArray ReceivedFrame() const;

    void notify(LinkMessage code, quint32 wParam = 0, quint32 lParam = 0, const QString &text = {});
    void trace(const QString &label, const CommandPacket &packet, int number);

Q_SIGNALS:
    // Synchronous: connect with a direct connection on the same thread.
    void notification(const LinkNotice &notice);
    void connectedChanged(bool connected);
    // The transport broke while open (peer gone, cable pulled): not a close asked for.
    void connectionLost();
    // Waits of other components end at once on a stop, as the link's own do.
    void stopRequestedChanged(bool stop);
    // Something a running wait of the link waits for may have happened.
    void waitConditionChanged(QPrivateSignal);

private:
    using WaitEnd = EventWait::End; // Failed: the transport broke
    // A frame wait also ends when the transport fails; a time wait only on a stop.
    enum class WaitFor { Frame, Time };
    WaitEnd waitUntil(const std::function<bool()> &done, int ms, WaitFor what = WaitFor::Frame);
    void wakeWaits();
    Transport *current() const { return transport(m_controlMode); }
    void onReceived(const QByteArray &bytes);
    // Stores bytes; `skipped` gets those dropped before the frame start, `stored` those taken.
    void store(const QByteArray &bytes, QByteArray *skipped, QByteArray *stored);
    void startDrain();
    void traceBytes(const QString &label, const QByteArray &bytes);
    void onTransportFailed(const QString &reason);
    QString receiveDump(const QByteArray &stored) const;

    QString m_comPort = QStringLiteral("COM1");
    QString m_deviceIP = QStringLiteral("0.0.0.0");
    quint16 m_tcpPort = DefaultTcpPort;
    TControlMode m_controlMode = cmLAN;
    TUDPMode m_udpMode = umBROADCAST;
    bool m_connecting = false;
    bool m_searching = false;
    bool m_configuring = false;
    StopRequest m_stop;
    Timing m_timing;

    std::unique_ptr<Transport> m_serial;
    std::unique_ptr<Transport> m_tcp;

    FrameKind m_frameKind = FrameKind::Reply;
    QByteArray m_lead = FrameLead(FrameKind::Reply);
    std::array<quint8, ReceiveBufferSize> m_receiveBuffer{};
    int m_receivePosition = 0;
    bool m_frameComplete = false;
    bool m_transportFailed = false;
    int m_tickCount = 0;
    int m_waiting = 0; // waits running
    QDeadlineTimer m_drainUntil; // expired: not draining

    QByteArray m_edidReadStream;
    QBuffer m_sendStream;
    bool m_restartPending = false;
};
