#pragma once

#include "RouteRules.h"

#include <QAbstractButton>
#include <QObject>
#include <QPointer>

#include <functional>

class PageServices;
class QAction;
class QLabel;
class QMenu;
class QTreeWidget;
class QWidget;
class TLCD99;
class TfrmShowInOutInfo;

// The upper half of the Setting page: one group per output with input buttons, step buttons
// and a display of the routed input, the right-click menu for several outputs, the note line
// and the tag pop-up. The displays hold the only copy of the routes.
class RoutingPanel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RoutingPanel)
public:
    // The Setting page's controls the panel works with. The buttons and displays inside routes
    // are found by the numbers they carry.
    struct Widgets
    {
        QWidget *page = nullptr; // tsSetting: its showing reads the routes
        QWidget *routes = nullptr; // pnlRouting: the output groups
        QLabel *note = nullptr; // lblNote
        QTreeWidget *presets = nullptr; // lvPreSetting
        // Further parts of the page whose mouse moves end the note and the pop-up.
        QList<QWidget *> around;
    };

    RoutingPanel(const Widgets &widgets, PageServices &services);
    ~RoutingPanel() override;

    // Mouse moves over these widgets end the note and the pop-up too (the window around the
    // page).
    void trackMoves(const QList<QWidget *> &widgets);

    // Where the panel learns port tags and whether the operator wants the tag pop-up.
    void setTagLookup(RouteRules::TagLookup tags) { m_tags = std::move(tags); }
    void setDisplayTagLookup(std::function<bool()> displayTags)
    {
        m_displayTags = std::move(displayTags);
    }

    // The input button with group index `output` and tag `input`; null if absent.
    QAbstractButton *FindInputButton(int output, int input) const;
    // The display whose tag is `output`; null if absent.
    TLCD99 *FindOutputDisplay(int output) const;
    // The input an output's display shows (0 when its route is unknown).
    int currentInput(int output) const;
    // Switches an output as a click on its input button would: shown at once, reverted when
    // the switcher does not take it. False when it failed or there is no such button.
    bool setRoute(int output, int input);

    QMenu *pm() const { return m_pm; }
    TfrmShowInOutInfo *frmShowInOutInfo() const { return m_info; }
    QAbstractButton *hoveredButton() const { return m_hovered; }

    // The window's first showing: one digit per display, "All Outputs" covers six outputs.
    void FormShow();
    // Fills the pop-up with every port's tag; true when at least one port has a tag.
    bool BuildPortInfo();

public Q_SLOTS:
    void sbSetInputClick(QAbstractButton *button);
    void sbPreviousClick(QAbstractButton *button);
    void mnuAllOutputsClick(QAction *item);
    void ReadRoutes();
    // Another switcher or control mode: no output's route is known any more.
    void showUnknownRoutes();
    void tsSettingShow();
    void sbSetInputMouseMove(QAbstractButton *button, const QPoint &position);
    void gbOutput1MouseMove();
    void pmPopup();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Presses the button for (output, input) and shows the input on the output's display; an
    // input the switcher does not have shows the route as unknown.
    void showRoute(int output, int input);
    // The set-route step: true when the switcher took the route.
    bool switchRoute(QAbstractButton *button);
    void closeInfo();
    // The input button of the same output an arrow key moves the focus to; null at the edge.
    QAbstractButton *neighbour(QAbstractButton *from, int key) const;
    QString tag(bool input, int port) const;
    static int number(const QObject *control, const char *name);

    Widgets m_w;
    PageServices &m_services;
    QMenu *m_pm = nullptr;
    QAction *m_allOutputs = nullptr;
    TfrmShowInOutInfo *m_info = nullptr;
    QPointer<QAbstractButton> m_hovered;
    RouteRules::TagLookup m_tags;
    std::function<bool()> m_displayTags;
};
