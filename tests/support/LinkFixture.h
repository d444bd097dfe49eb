#pragma once

// The link against the simulated switcher over a real wire.
#include "LinkStatusText.h"
#include "SimulatorServer.h"
#include "TKVCOMControl.h"

#include <QString>
#include <QStringList>

namespace testsupport {

// Connects link to sim over wire: "pty" a pseudo terminal the switcher opens now, "tcp" its
// loopback TCP port (it must be listening). False when the wire or the connection fails.
inline bool connectWire(TKVCOMControl &link, SimulatorServer &sim, const QString &wire)
{
    if (wire == QLatin1String("pty")) {
        const QString path = sim.openPty();
        if (path.isEmpty())
            return false;
        link.setControlMode(cmCOM);
        link.setComPort(path);
    } else {
        link.setControlMode(cmLAN);
        link.setDeviceIP(QStringLiteral("127.0.0.1"));
        link.setTcpPort(sim.tcpPort());
    }
    return link.Connect();
}

// A link with the short time-outs of failure paths and a switcher listening on loopback TCP;
// keeps the status-bar texts the link's notifications give, in order.
class LinkFixture final
{
public:
    LinkFixture()
    {
        m_listening = m_sim.listenTcp();
        m_link.setTiming(Timing::fast());
        QObject::connect(
            &m_link, &TKVCOMControl::notification, &m_link, [this](const LinkNotice &notice) {
                const QString text = linkStatusText(notice, m_link);
                if (!text.isEmpty())
                    m_texts.append(text);
            });
    }
    LinkFixture(const LinkFixture &) = delete;
    LinkFixture &operator=(const LinkFixture &) = delete;

    bool listening() const { return m_listening; }
    bool connectWire(const QString &wire) { return testsupport::connectWire(m_link, m_sim, wire); }
    SimulatorServer &sim() { return m_sim; }
    TKVCOMControl &link() { return m_link; }
    QStringList texts() const { return m_texts; }
    void clearTexts() { m_texts.clear(); }

private:
    // The link goes first: it closes its end before the switcher's ends.
    SimulatorServer m_sim;
    TKVCOMControl m_link;
    QStringList m_texts;
    bool m_listening = false;
};

} // namespace testsupport
