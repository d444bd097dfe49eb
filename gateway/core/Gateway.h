#pragma once

#include "GatewaySettings.h"
#include "GatewayState.h"
#include "LinkMessage.h"
#include "ReconnectBackoff.h"
#include "Timing.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <utility>

class SwitcherOperation;
class SwitcherSession;
class TKVCOMControl;
struct SwitcherOutcome;

// Where the gateway's one link goes and how it behaves.
struct GatewayConfig
{
    enum class Target { None, Tcp, Serial };
    Target target = Target::None;
    QString host; // Tcp
    quint16 tcpPort = 8000; // Tcp
    QString serialPath; // Serial

    // The poll of power and routes; 0 turns it off.
    int pollMs = 2000;
    // Client requests waiting for the link; one more is refused at once (QueueFull).
    int queueLimit = 32;
    // gateway.ini; empty: labels and presets live in memory only.
    QString settingsPath;
    // The link's waits; tests use Timing::fast().
    Timing timing;
    // After the switcher is lost the link is opened again, first after reconnectMinMs, each
    // failure doubling the wait up to reconnectMaxMs: a switcher back from a restart reaches
    // the panels within seconds.
    int reconnectMinMs = 500;
    int reconnectMaxMs = 5000;
};

// The one owner of the switcher: its link, one queue of device operations (one at a time on
// the link), the poll, the state model, the locks and gateway.ini. Servers are thin codecs over
// it: they make requests and follow the signals.
//
// Requests answer exactly once through their callback, always later from the event loop, never
// from inside the call. A callback may outlive the client that asked: guard what it captures.
// Client id 0 stands for a client without a connection of its own (an HTTP request): it holds
// no locks, so it is refused at every locked output.
//
// Nothing here waits: every device operation (requests, the poll, the connect and reconnects)
// runs on the session's asynchronous form, and the queue hands the next one to the link when
// the previous outcome arrives. Destroying the gateway ends an operation in flight as stopped.
class Gateway final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Gateway)
public:
    using Done = std::function<void(const GatewayResult &)>;

    explicit Gateway(const GatewayConfig &config, QObject *parent = nullptr);
    ~Gateway() override;

    // Reads gateway.ini, opens the link and starts polling. Until the switcher answers the
    // state says not present, and device requests are refused with NotPresent.
    void start();

    const GatewayState &state() const { return m_state; }
    const GatewayConfig &config() const { return m_config; }
    // The link, for tests that replace its transport before start().
    TKVCOMControl &link() { return *m_link; }
    // Client requests waiting for the link (not counting the one running).
    int queuedRequests() const { return int(m_queue.size()); }

    // Clients of the servers. Closing drops every lock the client holds.
    quint64 openClient();
    void closeClient(quint64 clientId);

    // Device requests. Routes run in order and stop at the first output another client has
    // locked (Locked) or the first route the switcher refuses (Refused).
    void setRoutes(const QList<GatewayRoute> &salvo, quint64 clientId, const Done &done);
    void setRoute(int output, int input, quint64 clientId, const Done &done)
    {
        setRoutes({GatewayRoute{output, input}}, clientId, done);
    }
    // Preset n (1..8): its outputs in order, skipping those it leaves as they are.
    void applyPreset(int n, quint64 clientId, const Done &done);
    void setPower(bool on, const Done &done);
    // Reads power and routes now, ahead of the poll.
    void refresh(const Done &done);

    // Settings requests: written to gateway.ini first, then changed and told; when the save
    // fails nothing changes and the answer is NotSaved. Labels may be empty; labels and preset
    // names follow the label rule (GatewayLabel).
    void setLabel(GatewaySide side, int port, const QString &text, const Done &done);
    // Several labels of one side in one save, all or none, answered at once (a panel's block).
    GatewayResult setLabels(GatewaySide side, const QList<std::pair<int, QString>> &labels);
    void setPreset(int n, const GatewayPreset &preset, const Done &done);

    // Locks on outputs, held by a client until it unlocks or closes. Locking an output the
    // client holds already succeeds; an output another client holds gives Locked. Changes are
    // answered at once (there is nothing to wait for).
    GatewayResult lock(int output, quint64 clientId);
    GatewayResult unlock(int output, quint64 clientId);
    GatewayResult forceUnlock(int output);

Q_SIGNALS:
    // Every change of the state, once, in the order it happened.
    void routeChanged(int output, int input);
    void labelChanged(GatewaySide side, int port, const QString &text);
    void powerChanged(bool on);
    void presentChanged(bool present, const QString &linkText);
    void deviceChanged(); // model or version
    void presetChanged(int n);
    void lockChanged(int output, quint64 owner);

private:
    enum class Outcome { Done, Refused, Lost };
    // One job of the queue: it starts its device operations and calls jobDone() once it is over.
    using Operation = std::function<void()>;
    using Then = std::function<void(Outcome)>;
    using Answered = std::function<void(Outcome, const SwitcherOutcome &)>;
    using Finish = std::function<void(const GatewayResult &)>;

    void schedulePump();
    void pump();
    Operation nextJob();
    void jobDone();
    // Puts a client operation in the queue, or answers at once when it cannot be taken.
    void enqueue(Operation op, const Done &done);
    void answer(const Done &done, const GatewayResult &result);

    void openLink();
    void linkLost(const QString &text);
    void scheduleReconnect();
    void startPoll();

    // Whether the switcher is there to be asked; a link found closed is lost.
    bool reachable();
    // Done, Refused, or Lost once the link has been given up (told to the clients).
    Outcome judge(const SwitcherOutcome &outcome);
    // One operation of the session, its outcome judged; Lost at once when unreachable.
    void ask(const SwitcherOperation &operation, Answered then);
    void readIdentity(Then then);
    void readPower(Then then);
    void readRoute(int output, Then then);
    // The routes of outputs `output` to the last, while the switcher is on.
    void readRoutes(int output, Then then);
    // Power, then the routes when it is on.
    void readState(Then then);
    // Routes from index `next` on; `result` holds those applied so far.
    void runRoutes(const QList<GatewayRoute> &routes, qsizetype next, quint64 clientId,
        GatewayResult result, Finish finish);
    GatewayResult notPresent() const;

    void setPresent(bool present, const QString &text);
    void setRouteState(int output, int input);
    void setPowerState(bool on);
    GatewaySettings::Values settingsValues() const;
    GatewayResult saveSettings(const GatewaySettings::Values &values);

    GatewayConfig m_config;
    GatewayState m_state;
    std::unique_ptr<TKVCOMControl> m_link;
    std::unique_ptr<SwitcherSession> m_switcher;
    std::unique_ptr<GatewaySettings> m_settings;
    // gateway.ini as read at start: what the gateway does not change itself (the MQTT id) is
    // written back as it was.
    GatewaySettings::Values m_kept;
    std::deque<Operation> m_queue;
    QList<int> m_pollSteps; // 0: power, n: route of output n
    bool m_running = false; // a job runs
    bool m_pumping = false;
    bool m_stopping = false; // being destroyed
    bool m_pumpScheduled = false;
    bool m_connectPending = false;
    bool m_started = false;
    ReconnectBackoff m_reconnect;
    quint64 m_nextClient = 1;
    QTimer m_pollTimer;
    QTimer m_reconnectTimer;
};
