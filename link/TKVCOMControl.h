#pragma once

#include "CommandPacket.h"
#include "ControlMode.h"
#include "EventWait.h"
#include "ExchangeStep.h"
#include "FrameReceiver.h"
#include "LinkMessage.h"
#include "ReplyOrder.h"
#include "Timing.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class Transport;

Q_DECLARE_LOGGING_CATEGORY(lcLink)

enum TUDPMode { umBROADCAST = 0, umNORMAL = 1 };

// The one link to the switcher: owns the transports, runs request/reply transactions and
// reports what happens through numbered notifications. Everything runs on one thread.
//
// Exchanges and connects run as a state machine driven by the transport's bytes and errors and
// by timers: the asynchronous forms (startExchange, startCommand, startConnect) return at once
// and call back with the end. The synchronous forms the window and matrixctl use (exchange,
// ExecuteCommand, Connect) run the same machine under one local event loop (EventWait) that
// ends the moment the machine does. One request runs at a time: a request made while another
// runs ends at once as stopped, without a word on the wire.
class TKVCOMControl final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TKVCOMControl)
public:
    static constexpr quint16 DefaultTcpPort = 8000;
    // Tries of one command with the default timing (Timing::commandAttempts).
    static constexpr int Attempts = Timing{}.commandAttempts;

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
    bool connecting() const { return m_connecting; }
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

    // The asynchronous forms. Each returns at once; `done` is called once with the end, at once
    // when there is nothing to wait for, and never once `context` is gone (nor when the link
    // is). A stop ends a running request as stopped.
    using ConnectDone = std::function<void(bool opened)>;
    using ExchangeDone = std::function<void(ExchangeStep::End)>;
    using CommandDone = std::function<void(const CommandResult &)>;
    void startConnect(QObject *context, ConnectDone done);
    void startExchange(const ExchangeStep &step, QObject *context, ExchangeDone done);
    void startCommand(const CommandPacket &request, QObject *context, CommandDone done);
    // An exchange or a connect is running.
    bool busy() const { return m_run || m_connecting; }

    // One request/reply transaction with up to Timing::commandAttempts attempts (five unless
    // the timing says otherwise). On a link out of step a barrier query goes first (catchUp).
    void ExecuteCommand(const CommandPacket &request, CommandResult &result);

    // Out of step: a request went unanswered, and its reply may still come (ReplyOrder).
    bool inStep() const { return m_order.inStep(); }
    // While a hold lasts, commands get no barrier: a firmware upgrade holds one from its first
    // start packet to the end of the reboot wait, since the switcher's restart puts the line
    // back in step by itself.
    class BarrierHold final
    {
        Q_DISABLE_COPY_MOVE(BarrierHold)
    public:
        explicit BarrierHold(TKVCOMControl &link) : m_link(link) { ++m_link.m_barrierHolds; }
        ~BarrierHold() { --m_link.m_barrierHolds; }

    private:
        TKVCOMControl &m_link;
    };
    // The switcher has restarted: nothing sent before can still be answered.
    void switcherRestarted() { m_order.restarted(); }

    // One retrying exchange (ExchangeStep): what every request of the link runs on.
    // Synchronous: startExchange under the link's wait.
    ExchangeStep::End exchange(const ExchangeStep &step);

    // EDID block transfers (EdidTransfer). A read fills EDIDReadStream; a download sends the
    // send stream.
    void ReadEDIDBlocks(const CommandPacket &request, CommandResult &result);
    void DownloadEDIDBlocks(const CommandPacket &request, CommandResult &result);
    const QByteArray &EDIDReadStream() const { return m_edidReadStream; }

    // Firmware parts (FirmwareTransfer): one part, unscrambled in the send stream, then the
    // wait for the switcher to come back.
    void TransferSlavePart(const CommandPacket &request, CommandResult &result);
    void TransferMainPart(const CommandPacket &request, CommandResult &result);
    void WaitReboot(CommandResult &result);

    // The send stream: data a block transfer sends (an EDID file, a firmware part).
    void setSendStream(const QByteArray &data) { m_sendStream = data; }
    const QByteArray &sendStream() const { return m_sendStream; }

    // A pause that keeps the window responsive; false when a stop was requested.
    bool pause(int ms);
    // The transport failed since the last request went out.
    bool transportFailed() const { return m_transportFailed; }
    // The per-packet diagnostics: a trace line for each packet sent and received (2025), the
    // count (2024) and a dump (2028) of the bytes received. No front end shows them, so they
    // are built only for a listener that asks for them (a test, a bench), and the trace lines
    // also for the matrix.link debug log.
    void setDiagnosticsWanted(bool wanted) { m_diagnosticsWanted = wanted; }
    bool diagnosticsWanted() const;
    // A trace line is worth building: a listener asked, or the matrix.link debug log is on.
    bool tracing() const;

    void notify(LinkMessage code, quint32 wParam = 0, quint32 lParam = 0, const QString &text = {});
    void trace(const QString &label, const CommandPacket &packet, int number);
    // The trace of a packet sent: "[attempt] " followed by what, e.g. "snd cmd PPP:   ".
    void traceSent(int attempt, QLatin1String what, const CommandPacket &packet);

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
    friend class LinkTestAccess;

    // The running exchange (startExchange), one attempt after another: a drain of late
    // replies when one is due, the frame out, the wait for its complete answer, and the pause
    // after a refused answer. Each phase ends when its condition holds, its transport fails,
    // its timer runs out or a stop is requested.
    struct Run;
    enum class Phase { Busy, Drain, Write, Reply, RetryPause };
    // Why a phase's conditions are looked at: it begins (its time may be up at once), something
    // it waits for may have happened, or its timer ran out.
    enum class Check { Entry, EntryTimeUp, Wake, TimeUp };
    void startCommand(const CommandPacket &request, const CommandResult &start, QObject *context,
        CommandDone done);
    // Before a request of this kind on a link out of step: a query of a kind no earlier request
    // can answer, and everything that comes before its reply dropped. Its reply vouches that
    // nothing sent before it can still be answered. `done` gets false when it went unanswered
    // (reported) or a stop or a transport failure ended it.
    void catchUp(ReplyOrder::Kind next, QObject *context, std::function<void(bool)> done);
    void nextAttempt();
    void send();
    void sendFailed();
    void sent();
    void enterPhase(Phase phase, int ms);
    void checkPhase(Check check);
    // The transport did something the running phase may wait for.
    void wakeRun();
    void replyEnded();
    void answered();
    void finishRun(ExchangeStep::End end);
    // The run is still the one with this number (a callback may have ended it).
    bool running(quint64 id) const;
    void endConnect(bool opened, const QString &error);
    void onStop();
    // The synchronous forms' one wait: until finished() holds, or a stop, which ends what is
    // still running.
    void await(const std::function<bool()> &finished);
    // The complete frame is the answer to be judged. A late frame (ExchangeStep::LateFrames)
    // is traced and dropped first, and the bytes that came after it are stored again.
    bool answerReady();
    bool isLate(const QByteArray &frame) const;
    // After a time-out, whatever arrives within the grace period is the late answer to a
    // request already given up; it is discarded (and traced) rather than taken for the reply
    // to a later request, which echoes the same command; the next frame waits for the rest of
    // the period.
    bool draining() const { return !m_drainUntil.hasExpired(); }
    void startDrain();

    void wakeWaits();
    Transport *current() const { return transport(m_controlMode); }
    void onReceived(const QByteArray &bytes);
    void store(const QByteArray &bytes);
    void traceBytes(const QString &label, const QByteArray &bytes);
    void traceLine(const QString &line);
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

    FrameReceiver m_receiver;
    bool m_transportFailed = false;
    int m_waiting = 0; // synchronous waits running
    std::unique_ptr<Run> m_run;
    quint64 m_runs = 0; // runs started, numbering them
    QTimer m_phaseTimer;
    QPointer<QObject> m_connectContext;
    ConnectDone m_connectDone;
    QDeadlineTimer m_drainUntil; // expired: not draining

    ReplyOrder m_order;
    int m_barrierHolds = 0;
    bool m_diagnosticsWanted = false;
    // The answer awaited: its kind (when it is a device protocol frame) and what a late frame is.
    std::optional<ReplyOrder::Kind> m_answerKind;
    ExchangeStep::LateFrames m_lateFrames = ExchangeStep::LateFrames::Judge;
    // While late frames are dropped: bytes that came after the complete frame, which may hold
    // the answer right behind a late one.
    static constexpr qsizetype SurplusLimit = 4096;
    QByteArray m_surplus;

    QByteArray m_edidReadStream;
    QByteArray m_sendStream;
};
