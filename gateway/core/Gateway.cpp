#include "Gateway.h"

#include "ClientAddresses.h"
#include "GatewayLabel.h"
#include "GatewaySettings.h"
#include "SwitcherModel.h"
#include "SwitcherSession.h"
#include "TKVCOMControl.h"
#include "TcpTarget.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QStringList>

#include <algorithm>

Q_LOGGING_CATEGORY(lcGateway, "matrix.gateway", QtInfoMsg)

namespace {

QString routeText(const GatewayRoute &r)
{
    return QStringLiteral("output %1 to input %2").arg(r.output).arg(r.input);
}

QString lockedText(const QList<int> &outputs)
{
    if (outputs.size() == 1)
        return QStringLiteral("Output %1 is locked by another client").arg(outputs.first());
    QStringList numbers;
    for (int output : outputs)
        numbers.append(QString::number(output));
    return QStringLiteral("Outputs %1 are locked by another client")
        .arg(numbers.join(QStringLiteral(", ")));
}

} // namespace

Gateway::Gateway(const GatewayConfig &config, QObject *parent)
    : QObject(parent),
      m_config(config),
      m_link(std::make_unique<TKVCOMControl>()),
      m_switcher(std::make_unique<SwitcherSession>(*m_link)),
      m_settings(std::make_unique<GatewaySettings>(config.settingsPath)),
      m_reconnect(config.reconnectMinMs, config.reconnectMaxMs)
{
    m_link->setTiming(config.timing);
    if (config.target == GatewayConfig::Target::Serial) {
        m_link->setControlMode(cmCOM);
        // The line as the shell named it: a link or relative path in the current folder, or
        // a bare device name under /dev. The name given stays the switcher's id and text.
        m_link->setComPort(serialTargetPath(config.serialPath));
    } else {
        m_link->setControlMode(cmLAN);
        m_link->setDeviceIP(config.host);
        m_link->setTcpPort(config.tcpPort);
    }
    // A link that breaks between operations is noticed at once, not at the next poll.
    connect(m_link.get(), &TKVCOMControl::connectionLost, this, [this] {
        if (!m_running && m_state.present)
            linkLost(m_switcher->lostText());
    });

    m_pollTimer.setInterval(std::max(1, config.pollMs));
    connect(&m_pollTimer, &QTimer::timeout, this, &Gateway::startPoll);
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        m_connectPending = true;
        schedulePump();
    });
    m_state.linkText = QStringLiteral("Not connected yet");
}

Gateway::~Gateway()
{
    // An operation in flight ends now, as stopped, while everything it uses is still here;
    // nothing that would follow it runs.
    m_stopping = true;
    m_link->setStopRequested(true);
}

void Gateway::start()
{
    if (m_started)
        return;
    m_started = true;
    const GatewaySettings::Values values = m_settings->load();
    m_kept = values;
    m_state.inputLabels = values.inputLabels;
    m_state.outputLabels = values.outputLabels;
    m_state.presets = values.presets;
    m_state.friendlyName = values.friendlyName;
    if (m_config.target == GatewayConfig::Target::None) {
        setPresent(false, QStringLiteral("No switcher given"));
        return;
    }
    m_reconnect.reset();
    m_connectPending = true;
    if (m_config.pollMs > 0)
        m_pollTimer.start();
    schedulePump();
}

// Requests

void Gateway::setRoutes(
    const QList<GatewayRoute> &salvo, const QHostAddress &client, const Done &done)
{
    if (salvo.isEmpty())
        return answer(done, {GatewayError::BadInput, QStringLiteral("no route given")});
    for (const GatewayRoute &r : salvo) {
        if (!GatewayState::isPort(r.output) || !GatewayState::isPort(r.input))
            return answer(done,
                {GatewayError::BadInput,
                    QStringLiteral("ports are 1 to %1: %2").arg(GatewayPorts).arg(routeText(r))});
    }
    enqueue(
        [this, salvo, client, done] {
            runRoutes(salvo, 0, client, {}, [this, done](const GatewayResult &result) {
                answer(done, result);
                jobDone();
            });
        },
        done);
}

void Gateway::applyPreset(int n, const QHostAddress &client, const Done &done)
{
    if (!GatewayState::isPreset(n))
        return answer(done,
            {GatewayError::BadInput, QStringLiteral("presets are 1 to %1").arg(GatewayPresets)});
    enqueue(
        [this, n, client, done] {
            // The preset as it is when its turn comes, not when it was asked for.
            QList<GatewayRoute> routes;
            const GatewayPreset &preset = m_state.preset(n);
            for (int output = 1; output <= GatewayPorts; ++output) {
                const int input = preset.routes[GatewayState::index(output)];
                if (GatewayState::isPort(input))
                    routes.append({output, input});
            }
            runRoutes(routes, 0, client, {}, [this, done](const GatewayResult &result) {
                answer(done, result);
                jobDone();
            });
        },
        done);
}

void Gateway::setPower(bool on, const Done &done)
{
    enqueue(
        [this, on, done] {
            if (!m_state.present) {
                answer(done, notPresent());
                return jobDone();
            }
            ask(SwitcherOperation::setPower(on),
                [this, on, done](Outcome outcome, const SwitcherOutcome &) {
                    if (outcome == Outcome::Lost)
                        answer(done, notPresent());
                    else if (outcome == Outcome::Refused)
                        answer(done,
                            {GatewayError::Refused,
                                QStringLiteral("The switcher refused to power %1")
                                    .arg(on ? QStringLiteral("on") : QStringLiteral("off"))});
                    else {
                        setPowerState(on);
                        answer(done, {});
                        // Switched on: its routes are read before anything else is asked.
                        if (on && !m_state.routesKnown)
                            return readRoutes(1, [this](Outcome) { jobDone(); });
                    }
                    jobDone();
                });
        },
        done);
}

void Gateway::refresh(const Done &done)
{
    enqueue(
        [this, done] {
            if (!m_state.present) {
                answer(done, notPresent());
                return jobDone();
            }
            readState([this, done](Outcome outcome) {
                if (outcome == Outcome::Lost)
                    answer(done, notPresent());
                else if (outcome == Outcome::Refused)
                    answer(done,
                        {GatewayError::Refused, QStringLiteral("The switcher refused a query")});
                else
                    answer(done, {});
                jobDone();
            });
        },
        done);
}

void Gateway::setLabel(GatewaySide side, int port, const QString &text, const Done &done)
{
    answer(done, setLabels(side, {{port, text}}));
}

GatewayResult Gateway::setLabels(GatewaySide side, const QList<std::pair<int, QString>> &labels)
{
    GatewaySettings::Values values = settingsValues();
    auto &newLabels = side == GatewaySide::Input ? values.inputLabels : values.outputLabels;
    QList<int> changed;
    for (const auto &[port, text] : labels) {
        if (!GatewayState::isPort(port))
            return {GatewayError::BadInput, QStringLiteral("ports are 1 to %1").arg(GatewayPorts)};
        if (const auto problem = GatewayLabel::problem(text);
            problem != GatewayLabel::Problem::None)
            return {GatewayError::BadInput,
                GatewayLabel::problemText(problem, QStringLiteral("a label"))};
        newLabels[GatewayState::index(port)] = text;
        if (m_state.label(side, port) != text && !changed.contains(port))
            changed.append(port);
    }
    if (changed.isEmpty())
        return {};
    if (GatewayResult saved = saveSettings(values); !saved.ok())
        return saved;
    auto &labelsNow = side == GatewaySide::Input ? m_state.inputLabels : m_state.outputLabels;
    labelsNow = newLabels;
    for (int port : std::as_const(changed))
        Q_EMIT labelChanged(side, port, m_state.label(side, port));
    return {};
}

void Gateway::setPreset(int n, const GatewayPreset &preset, const Done &done)
{
    if (!GatewayState::isPreset(n))
        return answer(done,
            {GatewayError::BadInput, QStringLiteral("presets are 1 to %1").arg(GatewayPresets)});
    if (const auto problem = GatewayLabel::problem(preset.name);
        problem != GatewayLabel::Problem::None)
        return answer(done,
            {GatewayError::BadInput,
                GatewayLabel::problemText(problem, QStringLiteral("a preset name"))});
    const bool valid = std::all_of(preset.routes.begin(), preset.routes.end(),
        [](int input) { return input == 0 || GatewayState::isPort(input); });
    if (!valid)
        return answer(done,
            {GatewayError::BadInput,
                QStringLiteral("a preset routes inputs 1 to %1, or 0 to leave an output")
                    .arg(GatewayPorts)});
    if (m_state.preset(n) != preset) {
        GatewaySettings::Values values = settingsValues();
        values.presets[GatewayState::index(n)] = preset;
        if (GatewayResult saved = saveSettings(values); !saved.ok())
            return answer(done, saved);
        m_state.presets[GatewayState::index(n)] = preset;
        Q_EMIT presetChanged(n);
    }
    answer(done, {});
}

GatewayResult Gateway::setFriendlyName(const QString &name)
{
    if (const auto problem = GatewayLabel::problem(name); problem != GatewayLabel::Problem::None)
        return {GatewayError::BadInput,
            GatewayLabel::problemText(problem, QStringLiteral("a friendly name"))};
    if (name == m_state.friendlyName)
        return {};
    GatewaySettings::Values values = settingsValues();
    values.friendlyName = name;
    if (GatewayResult saved = saveSettings(values); !saved.ok())
        return saved;
    m_state.friendlyName = name;
    Q_EMIT deviceChanged();
    return {};
}

// Locks

GatewayResult Gateway::lock(int output, const QHostAddress &client)
{
    if (!GatewayState::isPort(output))
        return {GatewayError::BadInput, QStringLiteral("outputs are 1 to %1").arg(GatewayPorts)};
    if (client.isNull())
        return {GatewayError::BadInput, QStringLiteral("a lock needs the client's address")};
    QHostAddress &owner = m_state.locks[GatewayState::index(output)];
    if (holdsLock(output, client))
        return {};
    if (!owner.isNull())
        return {GatewayError::Locked, lockedText({output})};
    owner = ClientPolicy::plain(client);
    Q_EMIT lockChanged(output, true);
    return {};
}

GatewayResult Gateway::unlock(int output, const QHostAddress &client)
{
    if (!GatewayState::isPort(output))
        return {GatewayError::BadInput, QStringLiteral("outputs are 1 to %1").arg(GatewayPorts)};
    if (!m_state.locked(output))
        return {};
    if (!holdsLock(output, client))
        return {GatewayError::Locked, lockedText({output})};
    return forceUnlock(output);
}

GatewayResult Gateway::forceUnlock(int output)
{
    if (!GatewayState::isPort(output))
        return {GatewayError::BadInput, QStringLiteral("outputs are 1 to %1").arg(GatewayPorts)};
    QHostAddress &owner = m_state.locks[GatewayState::index(output)];
    if (!owner.isNull()) {
        owner.clear();
        Q_EMIT lockChanged(output, false);
    }
    return {};
}

bool Gateway::holdsLock(int output, const QHostAddress &client) const
{
    return m_state.locked(output) && !client.isNull()
        && m_state.lockOwner(output) == ClientPolicy::plain(client);
}

// The queue

void Gateway::answer(const Done &done, const GatewayResult &result)
{
    if (!done)
        return;
    QMetaObject::invokeMethod(
        this, [done, result] { done(result); }, Qt::QueuedConnection);
}

void Gateway::enqueue(Operation op, const Done &done)
{
    if (!m_state.present)
        return answer(done, notPresent());
    if (queuedRequests() >= m_config.queueLimit)
        return answer(done,
            {GatewayError::QueueFull,
                QStringLiteral("The gateway is busy: %1 requests are waiting; try again shortly")
                    .arg(m_config.queueLimit)});
    m_queue.push_back(std::move(op));
    schedulePump();
}

void Gateway::schedulePump()
{
    if (m_pumpScheduled)
        return;
    m_pumpScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pumpScheduled = false;
            pump();
        },
        Qt::QueuedConnection);
}

void Gateway::pump()
{
    // A job that ends inside the call hands on to this loop; one that ends later, when its
    // outcome arrives, calls pump itself.
    if (m_pumping)
        return;
    m_pumping = true;
    while (!m_running && !m_stopping) {
        const Operation job = nextJob();
        if (!job)
            break;
        m_running = true;
        job();
    }
    m_pumping = false;
}

Gateway::Operation Gateway::nextJob()
{
    if (m_connectPending) {
        m_connectPending = false;
        return [this] { openLink(); };
    }
    if (!m_queue.empty()) {
        Operation op = std::move(m_queue.front());
        m_queue.pop_front();
        return op;
    }
    // Polls yield to client requests: one step at a time, and only when none waits.
    if (!m_pollSteps.isEmpty() && m_state.present) {
        const int step = m_pollSteps.takeFirst();
        return [this, step] {
            const Then polled = [this, step](Outcome outcome) {
                // In standby the switcher answers no route queries.
                if (step == 0 && outcome == Outcome::Done && !m_state.power.value_or(false))
                    m_pollSteps.clear();
                jobDone();
            };
            if (step == 0)
                readPower(polled);
            else
                readRoute(step, polled);
        };
    }
    return {};
}

void Gateway::jobDone()
{
    m_running = false;
    pump();
}

void Gateway::startPoll()
{
    if (!m_state.present || !m_pollSteps.isEmpty())
        return;
    m_pollSteps = {0};
    for (int output = 1; output <= GatewayPorts; ++output)
        m_pollSteps.append(output);
    schedulePump();
}

// The link

void Gateway::openLink()
{
    m_switcher->openAsync([this](const SwitcherOutcome &opened) {
        if (m_stopping)
            return;
        if (!opened.ok()) {
            QString text = opened.message();
            if (opened.reason.isEmpty())
                text = QStringLiteral("The switcher cannot be reached");
            setPresent(false, text);
            scheduleReconnect();
            return jobDone();
        }
        // The identity first (what was known stays when it is refused), then the power: a
        // sound answer to the power query, which the switcher gives in standby too, makes it
        // present. While it is on, its routes are read before that is told; a route it
        // refuses stays unknown until the poll reads it. Lost: linkLost has told the clients
        // and will try again.
        readIdentity([this](Outcome outcome) {
            if (outcome == Outcome::Lost)
                return jobDone();
            readPower([this](Outcome outcome) {
                if (outcome == Outcome::Lost)
                    return jobDone();
                if (outcome == Outcome::Refused) {
                    linkLost(QStringLiteral("The switcher refused the power query"));
                    return jobDone();
                }
                readRoutes(1, [this](Outcome outcome) {
                    if (outcome != Outcome::Lost) {
                        m_reconnect.reset();
                        const QString where = m_config.target == GatewayConfig::Target::Serial
                            ? QStringLiteral("Serial port %1").arg(m_config.serialPath)
                            : QStringLiteral("TCP %1:%2").arg(m_config.host).arg(m_config.tcpPort);
                        setPresent(true, where);
                        checkRoutesKnown();
                    }
                    jobDone();
                });
            });
        });
    });
}

void Gateway::linkLost(const QString &text)
{
    m_link->Disconnect();
    m_pollSteps.clear();
    setPresent(false, text);
    // What it routes may change while it is away: nothing read before holds.
    forgetRoutes();
    scheduleReconnect();
}

void Gateway::scheduleReconnect()
{
    if (m_reconnectTimer.isActive() || m_connectPending)
        return;
    m_reconnectTimer.start(m_reconnect.next());
}

bool Gateway::reachable()
{
    if (m_link->Connected())
        return true;
    // Also while the switcher is being found: the link is opened again later.
    linkLost(m_switcher->lostText());
    return false;
}

Gateway::Outcome Gateway::judge(const SwitcherOutcome &outcome)
{
    switch (outcome.status) {
    case SwitcherOutcome::Status::Ok:
        return Outcome::Done;
    case SwitcherOutcome::Status::Refused:
        return Outcome::Refused;
    case SwitcherOutcome::Status::Stopped:
        return Outcome::Lost;
    case SwitcherOutcome::Status::TimedOut:
    case SwitcherOutcome::Status::Lost:
        break;
    }
    QString text = outcome.message();
    if (outcome.reason.isEmpty())
        text = QStringLiteral("The switcher does not answer");
    linkLost(text);
    return Outcome::Lost;
}

void Gateway::ask(const SwitcherOperation &operation, Answered then)
{
    if (!reachable())
        return then(Outcome::Lost, {});
    m_switcher->runAsync(operation, [this, then](const SwitcherOutcome &outcome) {
        // Stopped by our destruction: nothing more is asked or told.
        if (m_stopping)
            return;
        then(judge(outcome), outcome);
    });
}

void Gateway::readIdentity(Then then)
{
    ask(SwitcherOperation::model(), [this, then](Outcome outcome, const SwitcherOutcome &model) {
        if (outcome != Outcome::Done)
            return then(outcome);
        const int number = Switcher::modelOf(model).value;
        ask(SwitcherOperation::version(),
            [this, then, number](Outcome outcome, const SwitcherOutcome &version) {
                if (outcome != Outcome::Done)
                    return then(outcome);
                const QString modelText = switcherModelName(number);
                const QString versionText = Switcher::versionOf(version).value.text();
                if (modelText != m_state.model || versionText != m_state.version) {
                    m_state.model = modelText;
                    m_state.version = versionText;
                    Q_EMIT deviceChanged();
                }
                then(outcome);
            });
    });
}

void Gateway::readPower(Then then)
{
    ask(SwitcherOperation::power(), [this, then](Outcome outcome, const SwitcherOutcome &power) {
        if (outcome == Outcome::Done)
            setPowerState(Switcher::powerOf(power).value);
        then(outcome);
    });
}

void Gateway::readRoute(int output, Then then)
{
    ask(SwitcherOperation::route(output),
        [this, output, then](Outcome outcome, const SwitcherOutcome &reply) {
            const SwitcherResult<int> route = Switcher::routeOf(reply);
            if (outcome == Outcome::Done && GatewayState::isPort(route.value))
                routeRead(output, route.value);
            then(outcome);
        });
}

void Gateway::readRoutes(int output, Then then)
{
    if (output > GatewayPorts || !m_state.power.value_or(false))
        return then(Outcome::Done);
    readRoute(output, [this, output, then](Outcome outcome) {
        if (outcome != Outcome::Done)
            return then(outcome);
        readRoutes(output + 1, then);
    });
}

void Gateway::readState(Then then)
{
    readPower([this, then](Outcome outcome) {
        if (outcome != Outcome::Done)
            return then(outcome);
        readRoutes(1, then);
    });
}

void Gateway::runRoutes(const QList<GatewayRoute> &routes, qsizetype next,
    const QHostAddress &client, GatewayResult result, Finish finish)
{
    if (next >= routes.size()) {
        if (!result.locked.isEmpty()) {
            result.error = GatewayError::Locked;
            result.message = lockedText(result.locked);
        }
        return finish(result);
    }
    // What stops a salvo keeps what it has done and left out so far.
    const auto stopped = [](GatewayResult stop, const GatewayResult &sofar) {
        stop.applied = sofar.applied;
        stop.locked = sofar.locked;
        return stop;
    };
    if (!m_state.present)
        return finish(stopped(notPresent(), result));
    const GatewayRoute r = routes[next];
    // An output another address holds keeps its route; the rest of the salvo goes on.
    if (m_state.locked(r.output) && !holdsLock(r.output, client)) {
        if (!result.locked.contains(r.output))
            result.locked.append(r.output);
        return runRoutes(routes, next + 1, client, result, finish);
    }
    ask(SwitcherOperation::setRoute(r.input, r.output),
        [this, routes, next, client, result, finish, r, stopped](
            Outcome outcome, const SwitcherOutcome &) mutable {
            if (outcome == Outcome::Lost)
                return finish(stopped(notPresent(), result));
            if (outcome == Outcome::Refused)
                return finish(
                    stopped({GatewayError::Refused,
                                QStringLiteral("The switcher refused %1").arg(routeText(r))},
                        result));
            routeRead(r.output, r.input);
            ++result.applied;
            runRoutes(routes, next + 1, client, result, finish);
        });
}

GatewayResult Gateway::notPresent() const
{
    return {GatewayError::NotPresent, QStringLiteral("Device not present: ") + m_state.linkText};
}

// State changes, each told once

void Gateway::setPresent(bool present, const QString &text)
{
    if (m_state.present == present && m_state.linkText == text)
        return;
    m_state.present = present;
    m_state.linkText = text;
    qCInfo(lcGateway).noquote() << (present ? "Switcher present:" : "Switcher not present:")
                                << text;
    Q_EMIT presentChanged(present, text);
}

void Gateway::routeRead(int output, int input)
{
    setRouteState(output, input);
    m_routesRead |= 1u << GatewayState::index(output);
    checkRoutesKnown();
}

void Gateway::checkRoutesKnown()
{
    if (m_routesRead == AllRoutesRead && m_state.present && m_state.power.value_or(false))
        setRoutesKnown(true);
}

void Gateway::forgetRoutes()
{
    m_routesRead = 0;
    setRoutesKnown(false);
    for (int output = 1; output <= GatewayPorts; ++output)
        setRouteState(output, 0);
}

void Gateway::setRoutesKnown(bool known)
{
    if (m_state.routesKnown == known)
        return;
    m_state.routesKnown = known;
    Q_EMIT routesKnownChanged(known);
}

void Gateway::setRouteState(int output, int input)
{
    int &stored = m_state.routes[GatewayState::index(output)];
    if (stored == input)
        return;
    stored = input;
    Q_EMIT routeChanged(output, input);
}

void Gateway::setPowerState(bool on)
{
    if (m_state.power == on)
        return;
    m_state.power = on;
    // In standby the switcher answers no route queries; switched on, its routes are read anew.
    forgetRoutes();
    Q_EMIT powerChanged(on);
}

GatewaySettings::Values Gateway::settingsValues() const
{
    GatewaySettings::Values values = m_kept;
    values.inputLabels = m_state.inputLabels;
    values.outputLabels = m_state.outputLabels;
    values.presets = m_state.presets;
    values.friendlyName = m_state.friendlyName;
    return values;
}

GatewayResult Gateway::saveSettings(const GatewaySettings::Values &values)
{
    QString error;
    if (m_settings->save(values, &error))
        return {};
    qCWarning(lcGateway).noquote() << error;
    return {GatewayError::NotSaved, error + QStringLiteral("; nothing was changed")};
}
