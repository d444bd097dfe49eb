#include "DeviceStatusPanel.h"

#include "DeviceProtocol.h"
#include "PageServices.h"
#include "ShellState.h"
#include "Switcher.h"
#include "SwitcherModel.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVariant>

namespace {

using DeviceProtocol::PortCount;

QString inputCaption(int n)
{
    return QStringLiteral("Input%1: ").arg(n);
}

QString outputCaption(int n)
{
    return QStringLiteral("Output%1: ").arg(n);
}

// The panel's switches are the switcher's, in the same order.
PanelSwitch panelSwitch(DeviceStatusPanel::Switch which)
{
    static_assert(
        static_cast<int>(DeviceStatusPanel::Switch::APM) == static_cast<int>(PanelSwitch::Apm));
    return static_cast<PanelSwitch>(which);
}

} // namespace

DeviceStatusPanel::DeviceStatusPanel(
    const Widgets &widgets, PageServices &services, QObject *parent)
    : QObject(parent), m_services(services), m_w(widgets)
{
    connect(
        m_w.btnGetDevStatus, &QPushButton::clicked, this, &DeviceStatusPanel::btnGetDevStatusClick);
    connect(m_w.bbPower, &QToolButton::clicked, this, &DeviceStatusPanel::bbPowerClick);
    // clicked, not toggled: showing a state read from the switcher must not send it back.
    const auto wire
        = [this](Switch which, void (DeviceStatusPanel::*off)(), void (DeviceStatusPanel::*on)()) {
              const SwitchControls &pair = m_w.switches[static_cast<int>(which)];
              connect(pair.off, &QRadioButton::clicked, this, off);
              connect(pair.on, &QRadioButton::clicked, this, on);
          };
    wire(Switch::IR, &DeviceStatusPanel::rbIROffClick, &DeviceStatusPanel::rbIROnClick);
    wire(Switch::Keys, &DeviceStatusPanel::rbKeysOffClick, &DeviceStatusPanel::rbKeysOnClick);
    wire(Switch::Beeper, &DeviceStatusPanel::rbBeeperOffClick, &DeviceStatusPanel::rbBeeperOnClick);
    wire(Switch::APM, &DeviceStatusPanel::rbAPMOffClick, &DeviceStatusPanel::rbAPMOnClick);
}

void DeviceStatusPanel::ResetDeviceInfo()
{
    forgetDeviceInfo();
    setPower(Power::Unknown);
}

void DeviceStatusPanel::forgetDeviceInfo()
{
    clearInfoLabels();
    for (int i = 0; i < SwitchCount; ++i) {
        m_switchState[i].reset();
        showSwitch(static_cast<Switch>(i));
    }
}

void DeviceStatusPanel::clearInfoLabels()
{
    m_w.lblDevice->setText(QStringLiteral("Device: "));
    m_w.lblVersion->setText(QStringLiteral("Version: "));
    for (int n = 1; n <= PortCount; ++n) {
        m_w.inputLabels[n - 1]->setText(inputCaption(n));
        m_w.outputLabels[n - 1]->setText(outputCaption(n));
        m_w.inputLabels[n - 1]->setToolTip(QString());
        m_w.outputLabels[n - 1]->setToolTip(QString());
    }
}

void DeviceStatusPanel::setPower(Power power)
{
    m_power = power;
    m_services.state().PowerOn = power == Power::On;
    const QLabel *glyph = m_w.powerGlyphs[static_cast<int>(power)];
    m_w.bbPower->setIcon(QIcon(glyph->pixmap()));
    switch (power) {
    case Power::Unknown:
        m_w.bbPower->setToolTip(QStringLiteral("Power state unknown: click to boot up the matrix"));
        break;
    case Power::Off:
        m_w.bbPower->setToolTip(QStringLiteral("Matrix is powered off: click to boot it up"));
        break;
    case Power::On:
        m_w.bbPower->setToolTip(QStringLiteral("Matrix is on: click to power it off"));
        break;
    }
}

bool DeviceStatusPanel::getPowerStatus()
{
    const SwitcherResult<bool> power = m_services.switcher().power();
    if (!power.ok()) {
        // The switcher did not answer: nothing is known any more. A command refused because
        // another one runs, or because the window is closing, changes nothing.
        const ShellState &s = m_services.state();
        if (s.RunnerIdle && !s.StopRequested)
            setPower(Power::Unknown);
        return false;
    }
    setPower(power.value ? Power::On : Power::Off);
    return true;
}

void DeviceStatusPanel::btnGetDevStatusClick()
{
    const bool knownOn = m_power == Power::On;
    const bool answered = getPowerStatus();
    if (m_power != Power::On) {
        // In standby, or when nothing answered, what was read before no longer holds.
        forgetDeviceInfo();
        return;
    }
    // A query refused because another operation runs leaves everything as it was.
    if (!answered)
        return;
    clearInfoLabels();
    if (getDeviceInfo() && !knownOn)
        Q_EMIT switcherFoundOn();
}

bool DeviceStatusPanel::getDeviceInfo()
{
    Switcher &switcher = m_services.switcher();
    const SwitcherResult<int> model = switcher.model();
    if (!model.ok())
        return false;
    const SwitcherResult<SwitcherSize> size = switcher.size();
    if (!size.ok())
        return false;
    // The size only where the model name does not already say it.
    const QString name = switcherModelName(model.value);
    const QString sizeText = size.value.text();
    m_w.lblDevice->setText(QStringLiteral("Device: ") + name
        + (name.endsWith(sizeText) ? QString() : QStringLiteral(" (%1)").arg(sizeText)));

    const SwitcherResult<SwitcherVersion> version = switcher.version();
    if (!version.ok())
        return false;
    m_w.lblVersion->setText(QStringLiteral("Version: ") + version.value.text());

    // The labels are narrow: "Yes" or "No", with the whole sentence as the tip.
    const auto show
        = [](QLabel *label, const QString &caption, const QString &what, bool connected) {
              label->setText(caption + (connected ? QStringLiteral("Yes") : QStringLiteral("No")));
              label->setToolTip(what
                  + (connected ? QStringLiteral(" connected") : QStringLiteral(" not connected")));
          };
    for (int n = 1; n <= PortCount; ++n) {
        const SwitcherResult<bool> connected = switcher.inputConnected(n);
        if (!connected.ok())
            return false;
        show(m_w.inputLabels[n - 1], inputCaption(n), QStringLiteral("Source on input %1").arg(n),
            connected.value);
    }
    for (int n = 1; n <= PortCount; ++n) {
        const SwitcherResult<bool> connected = switcher.outputConnected(n);
        if (!connected.ok())
            return false;
        show(m_w.outputLabels[n - 1], outputCaption(n),
            QStringLiteral("Display on output %1").arg(n), connected.value);
    }

    for (Switch which : {Switch::IR, Switch::Keys, Switch::Beeper, Switch::APM}) {
        if (!getSwitchState(which))
            return false;
    }
    return true;
}

bool DeviceStatusPanel::getSwitchState(Switch which)
{
    const int i = static_cast<int>(which);
    const SwitcherResult<bool> state = m_services.switcher().switchState(panelSwitch(which));
    if (!state.ok())
        return false;
    m_switchState[i] = state.value;
    showSwitch(which);
    return true;
}

void DeviceStatusPanel::showSwitch(Switch which)
{
    const int i = static_cast<int>(which);
    const SwitchControls &pair = m_w.switches[i];
    const QSignalBlocker blockOff(pair.off);
    const QSignalBlocker blockOn(pair.on);
    if (m_switchState[i]) {
        (*m_switchState[i] ? pair.on : pair.off)->setChecked(true);
        return;
    }
    // An exclusive pair cannot be emptied while one of it is checked.
    pair.off->setAutoExclusive(false);
    pair.on->setAutoExclusive(false);
    pair.off->setChecked(false);
    pair.on->setChecked(false);
    pair.off->setAutoExclusive(true);
    pair.on->setAutoExclusive(true);
}

void DeviceStatusPanel::setSwitch(Switch which, bool on)
{
    if (m_services.switcher().setSwitch(panelSwitch(which), on).ok())
        m_switchState[static_cast<int>(which)] = on;
    // A refused or failed switch shows what the switcher had before.
    showSwitch(which);
}

void DeviceStatusPanel::bbPowerClick()
{
    // A double click is one click: its second half would power the switcher back off (or on).
    if (m_powerClick.isValid() && m_powerClick.elapsed() < QApplication::doubleClickInterval())
        return;
    m_powerClick.start();
    // An unknown state is read first; the button then only boots a switcher that is off, so
    // that a click before any status never powers a running matrix down.
    const bool wasUnknown = m_power == Power::Unknown;
    if (wasUnknown && (!getPowerStatus() || m_power == Power::On))
        return;
    const bool on = m_power != Power::On;
    if (!m_services.switcher().setPower(on).ok())
        return;
    setPower(on ? Power::On : Power::Off);
    // In standby nothing of it can be read or changed.
    if (!on)
        forgetDeviceInfo();
}
