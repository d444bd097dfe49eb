#include "DemoSwitcher.h"

#include "AppSettings.h"
#include "DeviceEntry.h"
#include "SimNetwork.h"
#include "SimulatorServer.h"

DemoSwitcher::DemoSwitcher() : m_server(std::make_unique<SimulatorServer>())
{
    // Its network module claims the address it is served on, so that the device entry, what
    // the module reports about itself and where the program connects all agree.
    SimNetwork &network = m_server->network();
    network.setModuleCount(1, {127, 0, 0, 2});
    network.modules()[0].tag = QByteArrayLiteral("Demo switcher");
    network.setLoopbackOnly(true);
    m_server->listenTcp(moduleAddress(), 0);
    if (!network.bind(moduleAddress(), &m_moduleError, 0, 0) && m_moduleError.isEmpty())
        m_moduleError = QStringLiteral("cannot serve the network module");
}

DemoSwitcher::~DemoSwitcher() = default;

bool DemoSwitcher::isListening() const
{
    return m_server->tcpPort() != 0;
}

QString DemoSwitcher::error() const
{
    return m_server->tcpError();
}

quint16 DemoSwitcher::moduleSearchPort() const
{
    return m_server->network().searchPort();
}

quint16 DemoSwitcher::moduleConfigPort() const
{
    return m_server->network().configPort();
}

quint16 DemoSwitcher::tcpPort() const
{
    return m_server->tcpPort();
}

QString DemoSwitcher::deviceEntry() const
{
    const SimModuleState &m = m_server->network().modules().constFirst();
    return makeDeviceEntry({QString::fromLatin1(m.tag), StaticIPText, ipText(m.ip),
        ipText(m.gateway), ipText(m.mask), macText(m.mac), SameSubnetText});
}

void DemoSwitcher::selectIn(AppSettings &settings) const
{
    const QString entry = deviceEntry();
    if (!settings.lanDevices.contains(entry))
        settings.lanDevices.append(entry);
    settings.lanDevice = entry;
    settings.controlMode = cmLAN;
}
