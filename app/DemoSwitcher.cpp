#include "DemoSwitcher.h"

#include "AppSettings.h"
#include "DeviceEntry.h"
#include "SimulatorServer.h"

DemoSwitcher::DemoSwitcher() : m_server(std::make_unique<SimulatorServer>())
{
    // Its network module claims the loopback address, so that the device entry and what the
    // module reports about itself agree.
    m_server->network().setModuleCount(1, {127, 0, 0, 1});
    m_server->network().modules()[0].tag = QByteArrayLiteral("Demo switcher");
    m_server->listenTcp(QHostAddress::LocalHost, 0);
    m_server->network().bind(ModuleAddress(), &m_moduleError);
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

quint16 DemoSwitcher::tcpPort() const
{
    return m_server->tcpPort();
}

QString DemoSwitcher::deviceEntry() const
{
    const SimModuleState &m = m_server->network().modules().constFirst();
    return MakeDeviceEntry({QString::fromLatin1(m.tag), StaticIPText, IPText(m.ip),
        IPText(m.gateway), IPText(m.mask), MACText(m.mac), SameSubnetText});
}

void DemoSwitcher::selectIn(AppSettings &settings) const
{
    const QString entry = deviceEntry();
    if (!settings.lanDevices.contains(entry))
        settings.lanDevices.append(entry);
    settings.lanDevice = entry;
    settings.controlMode = kControlModeTcp;
}
