#include "DeviceStatusPanel.h"

#include "CommandPacket.h"
#include "DeviceModel.h"
#include "DeviceProtocol.h"
#include "PageServices.h"
#include "ShellState.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVariant>

namespace {

using namespace DeviceProtocol;

struct SwitchCommands
{
    quint8 readCommand;
    quint8 readSub;
    const char *readText;
    quint8 setCommand;
    quint8 setSub;
    const char *offText;
    const char *onText;
};

// Indexed by DeviceStatusPanel::Switch.
constexpr SwitchCommands Switches[] = {
    {Command::Ir, IrSub::Query, "Getting IR status ...", Command::Ir, IrSub::Set,
        "Disable IR control ...", "Enable IR control ..."},
    {Command::Device, DeviceSub::KeysQuery, "Getting Keys status ...", Command::Device,
        DeviceSub::KeysSet, "Lock Keys on panel ...", "Unlock Keys on panel ..."},
    {Command::Device, DeviceSub::BeeperQuery, "Getting Beeper status ...", Command::Device,
        DeviceSub::BeeperSet, "Disable Beeper control ...", "Enable Beeper control ..."},
    {Command::Device, DeviceSub::ApmQuery, "Getting APM status ...", Command::Device,
        DeviceSub::ApmSet, "Set APM OFF ...", "Set APM ON ..."},
};

QString inputCaption(int n)
{
    return QStringLiteral("Input%1: ").arg(n);
}

QString outputCaption(int n)
{
    return QStringLiteral("Output%1: ").arg(n);
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
    CommandResult r;
    m_services.RunCommand(QStringLiteral("Getting Power status ..."), Command::Power,
        PowerSub::Query, QueryWord, 0, PowerKey3, PowerKey4, r);
    if (!r.Success) {
        // The switcher did not answer: nothing is known any more. A command refused because
        // another one runs, or because the window is closing, changes nothing.
        const ShellState &s = m_services.state();
        if (s.RunnerIdle && !s.StopRequested)
            setPower(Power::Unknown);
        return false;
    }
    setPower(r.reply.answer() == AnswerYes ? Power::On : Power::Off);
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
    const QString info = QStringLiteral("Getting device info ...");
    CommandResult r;

    m_services.RunPoweredCommand(info, Command::Device, DeviceSub::Model, QueryWord, 0, 0, 0, r);
    if (!r.Success)
        return false;
    const QString model = deviceModelName(r.reply.status());
    m_services.RunPoweredCommand(info, Command::Device, DeviceSub::Size, QueryWord, 0, 0, 0, r);
    if (!r.Success)
        return false;
    // The size only where the model name does not already say it.
    const QString size = QStringLiteral("%1x%2").arg(r.reply.status()).arg(r.reply.answer());
    m_w.lblDevice->setText(QStringLiteral("Device: ") + model
        + (model.endsWith(size) ? QString() : QStringLiteral(" (%1)").arg(size)));

    m_services.RunPoweredCommand(info, Command::Device, DeviceSub::Version, QueryWord, 0, 0, 0, r);
    if (!r.Success)
        return false;
    m_w.lblVersion->setText(QStringLiteral("Version: %1.%2")
                                .arg(r.reply.status())
                                .arg(r.reply.answer(), 2, 10, QLatin1Char('0')));

    // Inputs report 0x00 connected and 0xFF not; outputs anything but 0x00 as not connected.
    // The labels are narrow: "Yes" or "No", with the whole sentence as the tip.
    const auto show
        = [](QLabel *label, const QString &caption, const QString &what, bool connected) {
              label->setText(caption + (connected ? QStringLiteral("Yes") : QStringLiteral("No")));
              label->setToolTip(what
                  + (connected ? QStringLiteral(" connected") : QStringLiteral(" not connected")));
          };
    for (int n = 1; n <= PortCount; ++n) {
        m_services.RunPoweredCommand(QStringLiteral("Getting Input%1 connection ...").arg(n),
            Command::Device, DeviceSub::InputConnection, quint16(n), 0, 0, 0, r);
        if (!r.Success)
            return false;
        show(m_w.inputLabels[n - 1], inputCaption(n), QStringLiteral("Source on input %1").arg(n),
            r.reply.answer() == AnswerNo);
    }
    for (int n = 1; n <= PortCount; ++n) {
        m_services.RunPoweredCommand(QStringLiteral("Getting Output%1 connection ...").arg(n),
            Command::Device, DeviceSub::OutputConnection, quint16(n), 0, 0, 0, r);
        if (!r.Success)
            return false;
        show(m_w.outputLabels[n - 1], outputCaption(n),
            QStringLiteral("Display on output %1").arg(n), r.reply.answer() == AnswerNo);
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
    const SwitchCommands &c = Switches[i];
    CommandResult r;
    m_services.RunPoweredCommand(
        QLatin1String(c.readText), c.readCommand, c.readSub, QueryWord, 0, 0, 0, r);
    if (!r.Success)
        return false;
    m_switchState[i] = r.reply.answer() == AnswerYes;
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
    const int i = static_cast<int>(which);
    const SwitchCommands &c = Switches[i];
    CommandResult r;
    m_services.RunPoweredCommand(QLatin1String(on ? c.onText : c.offText), c.setCommand, c.setSub,
        switchWord(on), 0, 0, 0, r);
    if (r.Success)
        m_switchState[i] = on;
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
    CommandResult r;
    m_services.RunCommand(
        on ? QStringLiteral("Matrix booting ...") : QStringLiteral("Power off ..."), Command::Power,
        PowerSub::Set, switchWord(on), 0, PowerKey3, PowerKey4, r);
    if (!r.Success)
        return;
    setPower(on ? Power::On : Power::Off);
    // In standby nothing of it can be read or changed.
    if (!on)
        forgetDeviceInfo();
}
