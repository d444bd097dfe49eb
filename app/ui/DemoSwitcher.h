#pragma once

#include <QHostAddress>
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

    static QString settingsFileName() { return QStringLiteral("Settings-demo.ini"); }
    // The address its network module claims and where it is served: searches, configurations
    // and the TCP connection. Not 127.0.0.1, the PC's own address.
    static QHostAddress moduleAddress() { return QHostAddress(QStringLiteral("127.0.0.2")); }

    // False when no loopback port could be had; the reason in error().
    bool isListening() const;
    QString error() const;
    // The module's datagram ports could not be had; the reason in moduleError(). Searches then
    // find nothing, but still never leave loopback. The module serves free ports, not the
    // well-known ones, so that a second demo or a real search elsewhere never collides.
    bool moduleServed() const { return m_moduleError.isEmpty(); }
    QString moduleError() const { return m_moduleError; }
    quint16 moduleSearchPort() const;
    quint16 moduleConfigPort() const;
    quint16 tcpPort() const;
    // The device list entry of the simulated switcher's network module (127.0.0.2).
    QString deviceEntry() const;
    // Puts the entry into the device list once and selects it in TCP control mode.
    void selectIn(AppSettings &settings) const;

    SimulatorServer &server() { return *m_server; }

private:
    std::unique_ptr<SimulatorServer> m_server;
    QString m_moduleError;
};
