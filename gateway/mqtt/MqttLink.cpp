#include "MqttLink.h"

#include "ReconnectBackoff.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMetaObject>

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

Q_LOGGING_CATEGORY(lcMqtt, "matrix.gateway.mqtt", QtInfoMsg)

// What the Qt thread and the link's thread share. Outlives the link object when its thread
// has to be left behind at a stop that did not end in time.
struct MqttLink::Shared
{
    explicit Shared(const MqttLinkConfig &c)
        : config(c), backoff(c.reconnectMinMs, c.reconnectMaxMs)
    { }
    ~Shared()
    {
        if (mosq)
            mosquitto_destroy(mosq);
    }

    // The link's thread tells the Qt thread, as long as the link object is there.
    template<typename F>
    void post(F call)
    {
        std::lock_guard lock(mutex);
        if (receiver)
            QMetaObject::invokeMethod(
                receiver, [r = receiver, call] { call(r); }, Qt::QueuedConnection);
    }
    void postStatus(Status status, const QString &reason)
    {
        post([status, reason](MqttLink *r) { r->setStatus(status, reason); });
    }
    bool stopRequested()
    {
        std::lock_guard lock(mutex);
        return stop;
    }

    const MqttLinkConfig config;
    mosquitto *mosq = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    MqttLink *receiver = nullptr;
    bool stop = false;
    bool finished = false;
    QByteArray lastTopic;
    QByteArray lastPayload;
    QString lastError; // the library's last error line (a TLS fault says more there)

    // The link's thread only.
    ReconnectBackoff backoff;
    int connack = -1; // the broker's answer to the last CONNECT; -1: none yet
};

namespace {

std::once_flag libraryInit;

QString libraryError(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttLink::MqttLink(const MqttLinkConfig &config, QObject *parent)
    : QObject(parent), m_config(config)
{ }

MqttLink::~MqttLink()
{
    stop();
}

QString MqttLink::statusName(Status status)
{
    switch (status) {
    case Status::Off:
        return QStringLiteral("off");
    case Status::Connecting:
        return QStringLiteral("connecting");
    case Status::Connected:
        return QStringLiteral("connected");
    case Status::Refused:
        return QStringLiteral("refused");
    case Status::Disconnected:
        return QStringLiteral("disconnected");
    }
    return {};
}

bool MqttLink::start(QString *error)
{
    if (m_shared)
        return true;
    std::call_once(libraryInit, [] { mosquitto_lib_init(); });
    auto shared = std::make_shared<Shared>(m_config);
    shared->receiver = this;
    const QByteArray id = m_config.clientId.toUtf8();
    shared->mosq = mosquitto_new(id.constData(), true, shared.get());
    if (!shared->mosq) {
        *error = QStringLiteral("the MQTT library cannot make a client: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    mosquitto *m = shared->mosq;
    mosquitto_threaded_set(m, true);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    auto check = [error](int rc, const QString &what) {
        if (rc == MOSQ_ERR_SUCCESS)
            return true;
        *error
            = QStringLiteral("the MQTT library does not take %1: %2").arg(what, libraryError(rc));
        return false;
    };
    if (!m_config.user.isEmpty()
        && !check(mosquitto_username_pw_set(m, m_config.user.toUtf8().constData(),
                      m_config.password.isEmpty() ? nullptr : m_config.password.constData()),
            QStringLiteral("the user name")))
        return false;
    if (!m_config.willTopic.isEmpty()
        && !check(mosquitto_will_set(m, m_config.willTopic.constData(),
                      int(m_config.willPayload.size()), m_config.willPayload.constData(), 1, true),
            QStringLiteral("the will")))
        return false;
    if (m_config.tls) {
        if (m_config.caFile.isEmpty()) {
            mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else if (!check(mosquitto_tls_set(m, QFile::encodeName(m_config.caFile).constData(),
                              nullptr, nullptr, nullptr, nullptr),
                       QStringLiteral("the CA file %1").arg(m_config.caFile))) {
            return false;
        }
        // The certificate's name is checked against the host, always.
        mosquitto_tls_insecure_set(m, false);
    }

    mosquitto_connect_callback_set(m, [](mosquitto *, void *obj, int rc) {
        auto *s = static_cast<Shared *>(obj);
        s->connack = rc;
        if (rc == 0) {
            s->backoff.reset();
            s->postStatus(Status::Connected, {});
        }
    });
    mosquitto_message_callback_set(m, [](mosquitto *, void *obj, const mosquitto_message *message) {
        auto *s = static_cast<Shared *>(obj);
        const QByteArray topic(message->topic);
        const QByteArray payload(static_cast<const char *>(message->payload),
            message->payload ? message->payloadlen : 0);
        s->post([topic, payload](MqttLink *r) { Q_EMIT r->messageReceived(topic, payload); });
    });
    mosquitto_log_callback_set(m, [](mosquitto *, void *obj, int level, const char *text) {
        if (level != MOSQ_LOG_ERR)
            return;
        auto *s = static_cast<Shared *>(obj);
        std::lock_guard lock(s->mutex);
        s->lastError = QString::fromUtf8(text);
    });

    m_shared = shared;
    setStatus(Status::Connecting, {});
    m_thread = std::thread(&MqttLink::run, shared);
    return true;
}

void MqttLink::run(std::shared_ptr<Shared> s)
{
    mosquitto *m = s->mosq;
    const QByteArray host = s->config.host.toUtf8();
    // After a failure the status keeps its reason until the next connection is made.
    while (!s->stopRequested()) {
        s->connack = -1;
        {
            std::lock_guard lock(s->mutex);
            s->lastError.clear();
        }
        int rc = mosquitto_connect(m, host.constData(), s->config.port, s->config.keepAliveSeconds);
        while (rc == MOSQ_ERR_SUCCESS) {
            if (s->stopRequested()) {
                // A clean end: the last message, then DISCONNECT, written in that order.
                QByteArray topic;
                QByteArray payload;
                {
                    std::lock_guard lock(s->mutex);
                    topic = s->lastTopic;
                    payload = s->lastPayload;
                }
                if (!topic.isEmpty() && s->connack == 0)
                    mosquitto_publish(m, nullptr, topic.constData(), int(payload.size()),
                        payload.constData(), 1, true);
                mosquitto_disconnect(m);
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                while (mosquitto_loop(m, 100, 1) == MOSQ_ERR_SUCCESS
                    && std::chrono::steady_clock::now() < deadline) { }
                break;
            }
            rc = mosquitto_loop(m, 200, 1);
        }
        if (s->stopRequested())
            break;

        QString reason;
        Status status = Status::Disconnected;
        if (s->connack > 0) {
            status = Status::Refused;
            reason = QStringLiteral("the broker refused the connection: %1")
                         .arg(QString::fromUtf8(mosquitto_connack_string(s->connack)));
        } else {
            reason = libraryError(rc);
            std::lock_guard lock(s->mutex);
            if (!s->lastError.isEmpty())
                reason += QStringLiteral(" (%1)").arg(s->lastError);
        }
        s->postStatus(status, reason);
        std::unique_lock lock(s->mutex);
        s->wake.wait_for(
            lock, std::chrono::milliseconds(s->backoff.next()), [&] { return s->stop; });
    }
    std::lock_guard lock(s->mutex);
    s->finished = true;
    s->wake.notify_all();
}

void MqttLink::stop(const QByteArray &lastTopic, const QByteArray &lastPayload, int timeoutMs)
{
    if (!m_shared)
        return;
    bool finished = false;
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->stop = true;
        m_shared->lastTopic = lastTopic;
        m_shared->lastPayload = lastPayload;
        m_shared->wake.notify_all();
        finished = m_shared->wake.wait_for(
            lock, std::chrono::milliseconds(timeoutMs), [this] { return m_shared->finished; });
        // Nothing from the thread reaches this object any more.
        m_shared->receiver = nullptr;
    }
    if (finished) {
        m_thread.join();
    } else {
        // A connect that hangs (a broker that does not answer) must not hold up the end; the
        // thread ends by itself once the library returns, and frees what it used.
        qCWarning(lcMqtt) << "The MQTT link did not end in time; it is left to end by itself";
        m_thread.detach();
    }
    m_shared.reset();
    setStatus(Status::Off, {});
}

bool MqttLink::publish(const QByteArray &topic, const QByteArray &payload, bool retain, int qos)
{
    if (!m_shared || m_status != Status::Connected)
        return false;
    return mosquitto_publish(m_shared->mosq, nullptr, topic.constData(), int(payload.size()),
               payload.constData(), qos, retain)
        == MOSQ_ERR_SUCCESS;
}

bool MqttLink::subscribe(const QByteArray &pattern, int qos)
{
    if (!m_shared || m_status != Status::Connected)
        return false;
    return mosquitto_subscribe(m_shared->mosq, nullptr, pattern.constData(), qos)
        == MOSQ_ERR_SUCCESS;
}

void MqttLink::setStatus(Status status, const QString &reason)
{
    if (status == m_status && reason == m_reason)
        return;
    m_status = status;
    m_reason = reason;
    Q_EMIT statusChanged(status, reason);
}
