#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <functional>

class QLabel;
class QStatusBar;
class AlertPanel;

// The five panels of the window's status bar and ShowStatus, through which every operation
// reports its progress and result. Panel 2 carries the two-state StatusAlert colours: button face
// with black text normally, red with white text once a failure text has blinked.
class StatusBar final
{
    Q_DISABLE_COPY_MOVE(StatusBar)
public:
    static constexpr int PanelCount = 5;
    static constexpr std::array<int, PanelCount> PanelWidths{185, 235, 300, 135, 50};

    // stopRequested and blinkMs are asked at each blinking text.
    StatusBar(QStatusBar *bar, std::function<bool()> stopRequested, std::function<int()> blinkMs);

    // panel 1 to 4. A blinking text for panel 2 blocks the window while it blinks, and is not
    // shown at all once a stop has been requested.
    void ShowStatus(int panel, const QString &text, bool blink = false);

    QString text(int panel) const;
    // StatusAlert: true while panel 2 shows red.
    bool alert() const;
    // True while panel 2 shows a wait that spins: its text ends with "..." and a turning
    // character, which keeps a slot of its own at the panel's right end.
    bool spinning() const;

private:
    QLabel *label(int panel) const;

    std::function<bool()> m_stopRequested;
    std::function<int()> m_blinkMs;
    std::array<QLabel *, PanelCount> m_labels{};
    AlertPanel *m_alertPanel = nullptr;
};
