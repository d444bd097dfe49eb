#pragma once

#include "DeviceProtocol.h"

#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <optional>

class PageServices;
class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;

// Device status and power on the General page, and the panel feature switches (IR receiver,
// front-panel keys, beeper, automatic power management) on the Advanced page. It reads the
// switcher's identity, port connections and switch states through the command runner and
// keeps the shell's PowerOn flag in step with the switcher's power replies.
class DeviceStatusPanel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DeviceStatusPanel)
public:
    enum class Switch { IR, Keys, Beeper, APM };
    enum class Power { Unknown, Off, On };
    static constexpr int SwitchCount = 4;

    struct SwitchControls
    {
        QRadioButton *off = nullptr;
        QRadioButton *on = nullptr;
    };
    // The General page's device status controls and the Advanced page's switch pairs.
    struct Widgets
    {
        QPushButton *btnGetDevStatus = nullptr;
        QLabel *lblDevice = nullptr;
        QLabel *lblVersion = nullptr;
        std::array<QLabel *, DeviceProtocol::PortCount> inputLabels{}; // lblInput1 … 6
        std::array<QLabel *, DeviceProtocol::PortCount> outputLabels{}; // lblOutput1 … 6
        QToolButton *bbPower = nullptr;
        std::array<QLabel *, 3> powerGlyphs{}; // imgPowerInit, imgPowerOff, imgPowerOn
        std::array<SwitchControls, SwitchCount> switches{}; // indexed by Switch
    };

    DeviceStatusPanel(const Widgets &widgets, PageServices &services, QObject *parent = nullptr);

    Power power() const { return m_power; }

public Q_SLOTS:
    void btnGetDevStatusClick();
    void bbPowerClick();
    // Forgets what was read: empty labels, unknown power glyph, no switch checked.
    void ResetDeviceInfo();

    void rbIROnClick() { setSwitch(Switch::IR, true); }
    void rbIROffClick() { setSwitch(Switch::IR, false); }
    void rbKeysOnClick() { setSwitch(Switch::Keys, true); }
    void rbKeysOffClick() { setSwitch(Switch::Keys, false); }
    void rbBeeperOnClick() { setSwitch(Switch::Beeper, true); }
    void rbBeeperOffClick() { setSwitch(Switch::Beeper, false); }
    void rbAPMOnClick() { setSwitch(Switch::APM, true); }
    void rbAPMOffClick() { setSwitch(Switch::APM, false); }

Q_SIGNALS:
    // Device status found the switcher on where it was not known to be, and read it whole.
    void switcherFoundOn();

private:
    // 10/01; false when the query failed (power then unknown).
    bool getPowerStatus();
    // Model, size, version, port connections and the switch states; stops at the first
    // failure, whose report stays in the status bar.
    bool getDeviceInfo();
    bool getSwitchState(Switch which);
    void setSwitch(Switch which, bool on);
    void setPower(Power power);
    // Checks the pair's radio for a known state, neither for an unknown one, without sending.
    void showSwitch(Switch which);
    void clearInfoLabels();
    // Labels emptied, no switch checked; the power state stays.
    void forgetDeviceInfo();

    PageServices &m_services;
    Widgets m_w;
    std::array<std::optional<bool>, SwitchCount> m_switchState{};
    Power m_power = Power::Unknown;
    // The last power click that was acted on.
    QElapsedTimer m_powerClick;
};
