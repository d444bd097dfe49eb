#include "Gateway.h"

#include "GatewayLabel.h"
#include "GatewaySettings.h"
#include "SwitcherModel.h"
#include "SwitcherSession.h"
#include "TKVCOMControl.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLoggingCategory>
#include <QMetaObject>

#include <algorithm>

Q_LOGGING_CATEGORY(lcGateway, "matrix.gateway", QtInfoMsg)

namespace {

QString routeText(const GatewayRoute &r)
{
    return QStringLiteral("output %1 to input %2").arg(r.output).arg(r.input);
}

} // namespace

Gateway::Gateway(const GatewayConfig &config, QObject *parent)
    : QObject(parent),
      m_config(config),
      m_link(std::make_unique<TKVCOMControl>()),
      m_switcher(std::make_unique<SwitcherSession>(*m_link)),
      m_settings(std::make_unique<GatewaySettings>(config.settingsPath))
{
    m_link->setTiming(config.timing);
    if (config.target == GatewayConfig::Target::Serial) {
        m_link->setControlMode(cmCOM);
        m_link->setComPort(config.serialPath);
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
    // A quit ends every event loop, but a wait of the link would start its loop again until
    // its deadline; the link is told to stop first.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool Gateway::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance())
        m_link->setStopRequested(true);
    return QObject::eventFilter(watched, event);
}

Gateway::~Gateway()
{
    // Ends a wait of the link that may be running below us on the stack.
    m_link->setStopRequested(true);
}

void Gateway::start()
{
    if (m_started)
        return;
    m_started = true;
    const GatewaySettings::Values values = m_settings->load();
    m_state.inputLabels = values.inputLabels;
    m_state.outputLabels = values.outputLabels;
    m_state.presets = values.presets;
    if (m_config.target == GatewayConfig::Target::None) {
        setPresent(false, QStringLiteral("No switcher given"));
        return;
    }
    m_reconnectMs = m_config.reconnectMinMs;
    m_connectPending = true;
    if (m_config.pollMs > 0)
        m_pollTimer.start();
    schedulePump();
}

quint64 Gateway::openClient()
{
    return m_nextClient++;
}

void Gateway::closeClient(quint64 clientId)
{
    if (clientId == 0)
        return;
    for (int output = 1; output <= GatewayPorts; ++output) {
        if (m_state.locks[GatewayState::index(output)] == clientId) {
            m_state.locks[GatewayState::index(output)] = 0;
            Q_EMIT lockChanged(output, 0);
        }
    }
}

// Requests

void Gateway::setRoutes(const QList<GatewayRoute> &salvo, quint64 clientId, const Done &done)
{
    if (salvo.isEmpty())
        return answer(done, {GatewayError::BadInput, QStringLiteral("no route given")});
    for (const GatewayRoute &r : salvo) {
        if (!GatewayState::isPort(r.output) || !GatewayState::isPort(r.input))
            return answer(done,
                {GatewayError::BadInput,
                    QStringLiteral("ports are 1 to %1: %2").arg(GatewayPorts).arg(routeText(r))});
    }
    enqueue([this, salvo, clientId, done] { answer(done, runRoutes(salvo, clientId)); }, done);
}

void Gateway::applyPreset(int n, quint64 clientId, const Done &done)
{
    if (!GatewayState::isPreset(n))
        return answer(done,
            {GatewayError::BadInput, QStringLiteral("presets are 1 to %1").arg(GatewayPresets)});
    enqueue(
        [this, n, clientId, done] {
            // The preset as it is when its turn comes, not when it was asked for.
            QList<GatewayRoute> routes;
            const GatewayPreset &preset = m_state.preset(n);
            for (int output = 1; output <= GatewayPorts; ++output) {
                const int input = preset.routes[GatewayState::index(output)];
                if (GatewayState::isPort(input))
                    routes.append({output, input});
            }
            answer(done, runRoutes(routes, clientId));
        },
        done);
}

void Gateway::setPower(bool on, const Done &done)
{
    enqueue(
        [this, on, done] {
            if (!m_state.present)
                return answer(done, notPresent());
            const Outcome outcome = reachable() ? judge(m_switcher->setPower(on)) : Outcome::Lost;
            if (outcome == Outcome::Lost)
                return answer(done, notPresent());
            if (outcome == Outcome::Refused)
                return answer(done,
                    {GatewayError::Refused,
                        QStringLiteral("The switcher refused to power %1")
                            .arg(on ? QStringLiteral("on") : QStringLiteral("off"))});
            setPowerState(on);
            answer(done, {});
        },
        done);
}

void Gateway::refresh(const Done &done)
{
    enqueue(
        [this, done] {
            if (!m_state.present)
                return answer(done, notPresent());
            Outcome outcome = readPower();
            for (int output = 1; outcome == Outcome::Done && m_state.power.value_or(false)
                 && output <= GatewayPorts;
                 ++output)
                outcome = readRoute(output);
            if (outcome == Outcome::Lost)
                return answer(done, notPresent());
            if (outcome == Outcome::Refused)
                return answer(
                    done, {GatewayError::Refused, QStringLiteral("The switcher refused a query")});
            answer(done, {});
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

// Locks

GatewayResult Gateway::lock(int output, quint64 clientId)
{
    if (!GatewayState::isPort(output) || clientId == 0)
        return {GatewayError::BadInput, QStringLiteral("outputs are 1 to %1").arg(GatewayPorts)};
    quint64 &owner = m_state.locks[GatewayState::index(output)];
    if (owner == clientId)
        return {};
    if (owner != 0)
        return {GatewayError::Locked,
            QStringLiteral("Output %1 is locked by another client").arg(output)};
    owner = clientId;
    Q_EMIT lockChanged(output, clientId);
    return {};
}

GatewayResult Gateway::unlock(int output, quint64 clientId)
{
    if (!GatewayState::isPort(output))
        return {GatewayError::BadInput, QStringLiteral("outputs are 1 to %1").arg(GatewayPorts)};
    quint64 &owner = m_state.locks[GatewayState::index(output)];
    if (owner == 0)
        return {};
    if (owner != clientId)
        return {GatewayError::Locked,
            QStringLiteral("Output %1 is locked by another client").arg(output)};
    owner = 0;
    Q_EMIT lockChanged(output, 0);
    return {};
}

GatewayResult Gateway::forceUnlock(int output)
{
    if (!GatewayState::isPort(output))
        return {GatewayError::BadInput, QStringLiteral("outputs are 1 to %1").arg(GatewayPorts)};
    quint64 &owner = m_state.locks[GatewayState::index(output)];
    if (owner != 0) {
        owner = 0;
        Q_EMIT lockChanged(output, 0);
    }
    return {};
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
    // Operations wait inside the link, where the event loop runs on; anything queued meanwhile
    // is taken by this loop once the running operation is over.
    if (m_running)
        return;
    m_running = true;
    for (;;) {
        if (m_link->StopRequested())
            break;
        if (m_connectPending) {
            m_connectPending = false;
            openLink();
            continue;
        }
        if (!m_queue.empty()) {
            const Operation op = std::move(m_queue.front());
            m_queue.pop_front();
            op();
            continue;
        }
        // Polls yield to client requests: one step at a time, and only when none waits.
        if (!m_pollSteps.isEmpty() && m_state.present) {
            const int step = m_pollSteps.takeFirst();
            const Outcome outcome = step == 0 ? readPower() : readRoute(step);
            // In standby the switcher answers no route queries.
            if (step == 0 && outcome == Outcome::Done && !m_state.power.value_or(false))
                m_pollSteps.clear();
            continue;
        }
        break;
    }
    m_running = false;
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

bool Gateway::openLink()
{
    const SwitcherOutcome opened = m_switcher->open();
    if (!opened.ok()) {
        QString text = opened.message();
        if (opened.reason.isEmpty())
            text = QStringLiteral("The switcher cannot be reached");
        setPresent(false, text);
        scheduleReconnect();
        return false;
    }
    // Present once it answers: identity first, then power and routes.
    Outcome outcome = readIdentity();
    if (outcome == Outcome::Done)
        outcome = readPower();
    for (int output = 1;
         outcome == Outcome::Done && m_state.power.value_or(false) && output <= GatewayPorts;
         ++output)
        outcome = readRoute(output);
    if (outcome == Outcome::Lost)
        return false; // linkLost has told the clients and will try again
    m_reconnectMs = m_config.reconnectMinMs;
    const QString where = m_config.target == GatewayConfig::Target::Serial
        ? QStringLiteral("Serial port %1").arg(m_config.serialPath)
        : QStringLiteral("TCP %1:%2").arg(m_config.host).arg(m_config.tcpPort);
    setPresent(true, where);
    return true;
}

void Gateway::linkLost(const QString &text)
{
    m_link->Disconnect();
    m_pollSteps.clear();
    setPresent(false, text);
    scheduleReconnect();
}

void Gateway::scheduleReconnect()
{
    if (m_reconnectTimer.isActive() || m_connectPending)
        return;
    m_reconnectTimer.start(m_reconnectMs);
    m_reconnectMs = std::min(m_config.reconnectMaxMs, std::max(1, m_reconnectMs) * 2);
}

bool Gateway::reachable()
{
    if (m_link->Connected())
        return true;
    if (m_state.present)
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

Gateway::Outcome Gateway::readIdentity()
{
    if (!reachable())
        return Outcome::Lost;
    const SwitcherResult<int> model = m_switcher->model();
    Outcome outcome = judge(model.outcome);
    if (outcome != Outcome::Done)
        return outcome;
    if (!reachable())
        return Outcome::Lost;
    const SwitcherResult<SwitcherVersion> version = m_switcher->version();
    outcome = judge(version.outcome);
    if (outcome != Outcome::Done)
        return outcome;
    const QString modelText = switcherModelName(model.value);
    const QString versionText = version.value.text();
    if (modelText != m_state.model || versionText != m_state.version) {
        m_state.model = modelText;
        m_state.version = versionText;
        Q_EMIT deviceChanged();
    }
    return outcome;
}

Gateway::Outcome Gateway::readPower()
{
    if (!reachable())
        return Outcome::Lost;
    const SwitcherResult<bool> power = m_switcher->power();
    const Outcome outcome = judge(power.outcome);
    if (outcome == Outcome::Done)
        setPowerState(power.value);
    return outcome;
}

Gateway::Outcome Gateway::readRoute(int output)
{
    if (!reachable())
        return Outcome::Lost;
    const SwitcherResult<int> route = m_switcher->route(output);
    const Outcome outcome = judge(route.outcome);
    if (outcome == Outcome::Done && GatewayState::isPort(route.value))
        setRouteState(output, route.value);
    return outcome;
}

GatewayResult Gateway::runRoutes(const QList<GatewayRoute> &routes, quint64 clientId)
{
    GatewayResult result;
    for (const GatewayRoute &r : routes) {
        if (!m_state.present) {
            GatewayResult lost = notPresent();
            lost.applied = result.applied;
            return lost;
        }
        const quint64 owner = m_state.lockOwner(r.output);
        if (owner != 0 && owner != clientId)
            return {GatewayError::Locked,
                QStringLiteral("Output %1 is locked by another client").arg(r.output),
                result.applied};
        const Outcome outcome
            = reachable() ? judge(m_switcher->setRoute(r.input, r.output)) : Outcome::Lost;
        if (outcome == Outcome::Lost) {
            GatewayResult lost = notPresent();
            lost.applied = result.applied;
            return lost;
        }
        if (outcome == Outcome::Refused)
            return {GatewayError::Refused,
                QStringLiteral("The switcher refused %1").arg(routeText(r)), result.applied};
        setRouteState(r.output, r.input);
        ++result.applied;
    }
    return result;
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
    Q_EMIT powerChanged(on);
}

GatewaySettings::Values Gateway::settingsValues() const
{
    GatewaySettings::Values values;
    values.inputLabels = m_state.inputLabels;
    values.outputLabels = m_state.outputLabels;
    values.presets = m_state.presets;
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
