#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

struct AppSettings;
class SimulatorServer;

// The switcher of demo mode: a simulated 6x6 switcher inside the program, reachable over a
// free loopback TCP port, so that every page can be tried without hardware. Demo mode keeps
// its own settings file, so the operator's device list and choices are never touched.
class DemoSwitcher final
{
    Q_DISABLE_COPY_MOVE(DemoSwitcher)
public:
    DemoSwitcher();
    ~DemoSwitcher();

    static QString SettingsFileName() { return QStringLiteral("Settings-demo.ini"); }

    // False when no loopback port could be had; the reason in error().
    bool isListening() const;
    QString error() const;
    quint16 tcpPort() const;
    // The device list entry of the simulated switcher's network module (127.0.0.1).
    QString deviceEntry() const;
    // Puts the entry into the device list once and selects it in TCP control mode.
    void selectIn(AppSettings &settings) const;

    SimulatorServer &server() { return *m_server; }

private:
    std::unique_ptr<SimulatorServer> m_server;
};
