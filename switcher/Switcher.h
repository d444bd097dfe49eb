#pragma once

#include "SwitcherOperation.h"
#include "SwitcherOutcome.h"

#include <QList>

// The switcher's operations by name, each returning its outcome with the reply decoded. How
// one operation runs is the implementer's: straight over the link (SwitcherSession), or
// through the window's command runner, which adds its progress texts and guards.
class Switcher
{
public:
    virtual ~Switcher() = default;

    // One operation; its reply stays undecoded in the outcome.
    virtual SwitcherOutcome run(const SwitcherOperation &operation) = 0;

    // What the typed operations below decode from an outcome; for the outcomes of the
    // asynchronous forms.
    static SwitcherResult<int> modelOf(const SwitcherOutcome &outcome);
    static SwitcherResult<SwitcherVersion> versionOf(const SwitcherOutcome &outcome);
    static SwitcherResult<bool> powerOf(const SwitcherOutcome &outcome);
    static SwitcherResult<int> routeOf(const SwitcherOutcome &outcome);

    // The model number (1-based index into the model list).
    SwitcherResult<int> model();
    SwitcherResult<SwitcherSize> size();
    SwitcherResult<SwitcherVersion> version();
    // Model, size and version, stopping at the first that fails.
    SwitcherResult<SwitcherIdentity> identity();

    // True: powered on.
    SwitcherResult<bool> power();
    SwitcherOutcome setPower(bool on);

    // The input routed to an output, as the switcher says it (it may name no input it has).
    SwitcherResult<int> route(int output);
    // The inputs routed to outputs 1 to 6, in order; on a failure those read before it.
    SwitcherResult<QList<int>> routes();
    SwitcherOutcome setRoute(int input, int output);

    // True: a source (display) is connected to the input (output).
    SwitcherResult<bool> inputConnected(int input);
    SwitcherResult<bool> outputConnected(int output);

    // True: the switch is on (IR enabled, keys unlocked, beeper enabled, APM on).
    SwitcherResult<bool> switchState(PanelSwitch which);
    SwitcherOutcome setSwitch(PanelSwitch which, bool on);
};
