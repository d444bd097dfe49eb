#pragma once

// A mosquitto of the test's own on a free loopback port (never a system broker), and another
// client of it that records what it receives, as Home Assistant would. Suites that include this
// link the gateway's MQTT library.
#include "MqttLink.h"
#include "ProgramRun.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <signal.h>
#include <unistd.h>

namespace testsupport {

inline const QString Mosquitto = QStringLiteral("/usr/sbin/mosquitto");
inline const QString GatewayUser = QStringLiteral("gateway");
inline const QString GatewayPassword = QStringLiteral("gateway-secret");
inline const QString ObserverUser = QStringLiteral("observer");
inline const QString ObserverPassword = QStringLiteral("observer-secret");

// A mosquitto of the test's own: a listener on 127.0.0.1 at a free port, logins from a
// password file made by mosquitto_passwd, optionally TLS with a certificate for "localhost".
class Broker final
{
public:
    Q_DISABLE_COPY_MOVE(Broker)
    Broker() = default;
    ~Broker() { kill(); }

    // Why the broker cannot run here; empty when it can.
    static QString missing()
    {
        if (!QFileInfo(Mosquitto).isExecutable())
            return QStringLiteral("needs %1 (package mosquitto)").arg(Mosquitto);
        if (QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd")).isEmpty())
            return QStringLiteral("needs mosquitto_passwd (package mosquitto)");
        return {};
    }

    bool setUp(bool tls = false)
    {
        if (!m_dir.isValid())
            return false;
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return false;
        m_port = probe.serverPort();
        probe.close();
        m_tls = tls;
        if (!addUser(GatewayUser, GatewayPassword, true)
            || !addUser(ObserverUser, ObserverPassword))
            return false;
        if (tls && !makeCertificate())
            return false;
        QString config = QStringLiteral("listener %1 127.0.0.1\n"
                                        "allow_anonymous false\n"
                                        "password_file %2\n"
                                        "persistence false\n"
                                        "log_dest file %3\n"
                                        "log_type all\n")
                             .arg(m_port)
                             .arg(path("passwords"), path("broker.log"));
        if (::geteuid() == 0)
            config += QStringLiteral("user root\n");
        if (tls)
            config += QStringLiteral("certfile %1\nkeyfile %2\n")
                          .arg(path("cert.pem"), path("key.pem"));
        QFile file(path("broker.conf"));
        return file.open(QIODevice::WriteOnly) && file.write(config.toUtf8()) > 0;
    }

    bool addUser(const QString &user, const QString &password, bool create = false)
    {
        QStringList arguments;
        if (create)
            arguments << QStringLiteral("-c");
        arguments << QStringLiteral("-b") << path("passwords") << user << password;
        return testsupport::runProgram(QStringLiteral("mosquitto_passwd"), arguments).code == 0;
    }

    // Starts the broker and waits until it takes connections.
    bool start()
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->start(Mosquitto, {QStringLiteral("-c"), path("broker.conf")});
        if (!m_process->waitForStarted())
            return false;
        for (int i = 0; i < 100; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200))
                return true;
            if (m_process->state() == QProcess::NotRunning)
                return false;
            QTest::qWait(50);
        }
        return false;
    }
    // Ends it at once, as a crash or a power cut would.
    void kill()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished();
        }
    }
    // Reads the password file again.
    void reload() { ::kill(pid_t(m_process->processId()), SIGHUP); }
    QString log() const
    {
        QFile file(const_cast<Broker *>(this)->path("broker.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QString path(const char *name) { return m_dir.filePath(QString::fromLatin1(name)); }
    quint16 port() const { return m_port; }
    QString url(const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return (m_tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + host
            + QLatin1Char(':') + QString::number(m_port);
    }

    MqttLinkConfig linkConfig(const QString &user, const QString &password) const
    {
        MqttLinkConfig config;
        config.host = QStringLiteral("127.0.0.1");
        config.port = m_port;
        config.user = user;
        config.password = password.toUtf8();
        config.reconnectMinMs = 100;
        return config;
    }

private:
    bool makeCertificate()
    {
        return testsupport::runProgram(QStringLiteral("openssl"),
                   {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=DNS:localhost"), QStringLiteral("-keyout"),
                       path("key.pem"), QStringLiteral("-out"), path("cert.pem")})
                   .code
            == 0;
    }

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    bool m_tls = false;
    std::unique_ptr<QProcess> m_process;
};

// Another client of the broker: what it received, by topic, in order.
struct Observer
{
    explicit Observer(const MqttLinkConfig &config) : link(config)
    {
        QObject::connect(&link, &MqttLink::messageReceived,
            [this](const QByteArray &topic, const QByteArray &payload) {
                received.append({topic, payload});
                last.insert(topic, payload);
            });
        QObject::connect(&link, &MqttLink::statusChanged, [this](MqttLink::Status status) {
            if (status == MqttLink::Status::Connected)
                link.subscribe("#");
        });
        QString error;
        started = link.start(&error);
    }
    bool connected() const { return link.status() == MqttLink::Status::Connected; }
    int count(const QByteArray &topic) const
    {
        int n = 0;
        for (const auto &[t, p] : received)
            n += t == topic;
        return n;
    }
    QJsonObject json(const QByteArray &topic) const
    {
        return QJsonDocument::fromJson(last.value(topic)).object();
    }

    MqttLink link;
    bool started = false;
    QList<QPair<QByteArray, QByteArray>> received;
    QMap<QByteArray, QByteArray> last;
};

} // namespace testsupport

// In a test's init(): without a broker to run the test skips, except where scripts/test requires
// the MQTT tests (MATRIX_REQUIRE_MQTT): it installed the broker there, and a skip would hide that.
#define MATRIX_BROKER_OR_SKIP()                                                                    \
    do {                                                                                           \
        const QString missing = testsupport::Broker::missing();                                    \
        if (!missing.isEmpty()) {                                                                  \
            if (qEnvironmentVariableIsSet("MATRIX_REQUIRE_MQTT"))                                  \
                QFAIL(qPrintable(missing));                                                        \
            QSKIP(qPrintable(missing));                                                            \
        }                                                                                          \
    } while (false)
