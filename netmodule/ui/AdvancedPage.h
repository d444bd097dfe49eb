#pragma once

#include "TCPModulePage.h"

#include <QObject>

#include <array>
#include <memory>

namespace Ui {
class tsIR;
}
class PageServices;
class QRadioButton;
class QWidget;

// The "Advanced" page: the TCP module's groups, served by TCPModulePage, and the radio pairs of
// the switcher's panel features, which the window gives to the device status. It sets up the
// page's form on page, an empty tab of the window or a widget of a test.
class AdvancedPage final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AdvancedPage)
public:
    // One feature's pair of radio buttons.
    struct SwitchRadios
    {
        QRadioButton *off = nullptr;
        QRadioButton *on = nullptr;
    };
    enum Feature { IR, Keys, Beeper, APM, FeatureCount };

    AdvancedPage(QWidget *page, PageServices &services, QObject *parent = nullptr);
    ~AdvancedPage() override;

    TCPModulePage &modulePage() { return *m_module; }
    // Indexed by Feature.
    std::array<SwitchRadios, FeatureCount> switches() const;

private:
    std::unique_ptr<Ui::tsIR> ui;
    std::unique_ptr<TCPModulePage> m_module;
};
