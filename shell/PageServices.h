#pragma once

#include "LinkLease.h"
#include "Switcher.h"

#include <QString>

class QWidget;
class TKVCOMControl;
struct ShellState;

// What a page of the main window needs from the shell: the one link, the command runner, the
// status bar and the program-wide flags. The window implements it; each page gets it through
// its constructor.
class PageServices
{
public:
    virtual ~PageServices() = default;

    virtual ShellState &state() = 0;
    // Owner of the link. Hold a LinkLease::Use across every direct call into the link that
    // may wait (block transfers), so that closing the window meanwhile cannot free it.
    virtual LinkLease &lease() = 0;
    // Null once the window has closed.
    TKVCOMControl *link() { return lease().get(); }

    // The switcher's operations through the runner: each is refused while stopping or busy
    // (and, when it needs power, while the switcher is off), connects on demand, and shows its
    // progress text and "Done" in the status bar; the link reports failures itself. The
    // requests the subsystems speak themselves (EDID, the firmware's reboot) go the same way,
    // as SwitcherOperation::command.
    virtual Switcher &switcher() = 0;
    // Status panel 1 to 4; blink makes panel 2 blink red.
    virtual void ShowStatus(int panel, const QString &text, bool blink = false) = 0;
    // The "Connection" group's connect/disconnect action.
    virtual void btnConnectClick() = 0;
    // Parent of message boxes and dialogs.
    virtual QWidget *dialogParent() = 0;
};
