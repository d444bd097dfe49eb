#pragma once

#include "GatewaySettings.h"
#include "GatewayState.h"
#include "LinkMessage.h"
#include "ReconnectBackoff.h"
#include "Timing.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

class SwitcherOperation;
class SwitcherSession;
class TKVCOMControl;
struct SwitcherOutcome;

// The gateway's own waits for the switcher, not the window's five attempts of five seconds: a
// 13-byte reply takes 2.3 ms on a 57600-baud line and the switcher answers within
// milliseconds, so a request or poll is tried twice and each try waits replyTimeoutMs (rounded
// up to the link's 10 ms tick). A silent switcher is noticed within about twice that.
inline Timing gatewayTiming(int replyTimeoutMs)
{
    Timing t;
    t.replyTicks = std::max(1, (replyTimeoutMs + t.tickMs - 1) / t.tickMs);
    t.commandAttempts = 2;
    return t;
}

// Where the gateway's one link goes and how it behaves.
struct GatewayConfig
{
    static constexpr int DefaultReplyTimeoutMs = 1000;

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
    // The link's waits: the gateway's own (gatewayTiming); tests use Timing::fast().
    Timing timing = gatewayTiming(DefaultReplyTimeoutMs);
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
// A client is known by its address: locks belong to addresses, as a Videohub panel expects,
// whichever server and connection the address comes through. A null address holds no lock.
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

    // Device requests from the client at `client`. Routes run in order; a route to an output
    // another address has locked is left out, the others are made, and the answer is then
    // Locked with those outputs in GatewayResult::locked. A route the switcher refuses stops
    // the rest (Refused).
    void setRoutes(const QList<GatewayRoute> &salvo, const QHostAddress &client, const Done &done);
    void setRoute(int output, int input, const QHostAddress &client, const Done &done)
    {
        setRoutes({GatewayRoute{output, input}}, client, done);
    }
    // Preset n (1..8): its outputs in order, skipping those it leaves as they are.
    void applyPreset(int n, const QHostAddress &client, const Done &done);
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
    // The switcher's name for clients, under the label rule; empty returns to the model's
    // name. Answered at once; a change is told as deviceChanged.
    GatewayResult setFriendlyName(const QString &name);

    // Locks on outputs, held by an address until it unlocks them or any client forces them
    // open; kept in memory while the gateway runs. Locking an output the address holds already
    // succeeds; an output another address holds gives Locked. Changes are answered at once
    // (there is nothing to wait for).
    GatewayResult lock(int output, const QHostAddress &client);
    GatewayResult unlock(int output, const QHostAddress &client);
    GatewayResult forceUnlock(int output);
    // Whether `client` holds the lock of output.
    bool holdsLock(int output, const QHostAddress &client) const;

Q_SIGNALS:
    // Every change of the state, once, in the order it happened.
    void routeChanged(int output, int input);
    void labelChanged(GatewaySide side, int port, const QString &text);
    void powerChanged(bool on);
    // Reachable or not (GatewayState::present).
    void presentChanged(bool present, const QString &linkText);
    // Every route read since the switcher was found or switched on, or no route known.
    void routesKnownChanged(bool known);
    void deviceChanged(); // model, version or friendly name
    void presetChanged(int n);
    // Locked or unlocked; who holds a lock is in the state.
    void lockChanged(int output, bool locked);

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
    // Routes from index `next` on; `result` holds those applied and left out so far.
    void runRoutes(const QList<GatewayRoute> &routes, qsizetype next, const QHostAddress &client,
        GatewayResult result, Finish finish);
    GatewayResult notPresent() const;

    void setPresent(bool present, const QString &text);
    // A route read from the switcher or set on it; all six read make the routes known.
    void routeRead(int output, int input);
    // No route is known until read again: each becomes 0.
    void forgetRoutes();
    // The routes are known once all six were read while the switcher is present and on.
    void checkRoutesKnown();
    void setRoutesKnown(bool known);
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
    static constexpr unsigned AllRoutesRead = (1u << GatewayPorts) - 1;
    unsigned m_routesRead = 0; // bit n - 1: the route of output n was read since forgetRoutes
    bool m_running = false; // a job runs
    bool m_pumping = false;
    bool m_stopping = false; // being destroyed
    bool m_pumpScheduled = false;
    bool m_connectPending = false;
    bool m_started = false;
    ReconnectBackoff m_reconnect;
    QTimer m_pollTimer;
    QTimer m_reconnectTimer;
};
