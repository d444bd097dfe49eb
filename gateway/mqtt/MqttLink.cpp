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
#include <deque>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

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
        for (const int fd : wakePipe) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // A publish or subscribe asked for on the Qt thread, carried out on the link's thread.
    struct Request
    {
        QByteArray topic;
        QByteArray payload;
        int qos = 0;
        bool retain = false;
        bool subscribe = false;
    };
    void request(Request r)
    {
        bool first = false;
        {
            std::lock_guard lock(mutex);
            first = requests.empty();
            requests.push_back(std::move(r));
        }
        // One byte stands for the whole queue: the thread empties the pipe before it takes the
        // queue, so a request that finds the queue empty is never left without a wake-up.
        if (first)
            wakeUp();
    }
    void wakeUp()
    {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
    }
    // Carries out what the Qt thread asked for, in order.
    void runRequests()
    {
        char bytes[64];
        while (::read(wakePipe[0], bytes, sizeof bytes) == sizeof bytes) { }
        std::deque<Request> taken;
        {
            std::lock_guard lock(mutex);
            taken.swap(requests);
        }
        for (const Request &r : taken) {
            if (r.subscribe)
                mosquitto_subscribe(mosq, nullptr, r.topic.constData(), r.qos);
            else
                mosquitto_publish(mosq, nullptr, r.topic.constData(), int(r.payload.size()),
                    r.payload.constData(), r.qos, r.retain);
        }
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
    std::deque<Request> requests;
    // Written by the Qt thread when it has requests or wants the link to stop; read by the
    // link's thread beside the broker's socket.
    int wakePipe[2] = {-1, -1};

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
    // Without an id the library makes a random one.
    shared->mosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, shared.get());
    if (!shared->mosq) {
        *error = QStringLiteral("the MQTT library cannot make a client: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::pipe2(shared->wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("the MQTT link cannot make its pipe: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    mosquitto *m = shared->mosq;
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Small packets go out at once: with Nagle's algorithm a route's output/N waited behind the
    // previous state message until the broker's delayed acknowledgement, some 20 ms.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
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
        {
            // What was asked for while the link was down is dropped: the bridge publishes all
            // it keeps once it is told of the connection.
            std::lock_guard lock(s->mutex);
            s->requests.clear();
        }
        // The library is used from this thread only: its socket and the wake-up pipe are
        // polled here, and the Qt thread's requests are carried out between reads and writes.
        while (rc == MOSQ_ERR_SUCCESS) {
            if (s->stopRequested()) {
                s->runRequests();
                // A clean end: the last message, then DISCONNECT, written in that order.
                QByteArray topic;
                QByteArray payload;
                {
                    std::lock_guard lock(s->mutex);
                    topic = s->lastTopic;
                    payload = s->lastPayload;
                }
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                // Every packet goes out whole before the next is queued: this library (2.0.11)
                // was seen to garble the stream when DISCONNECT was queued behind a packet
                // still partly written.
                auto flush = [&] {
                    while (mosquitto_want_write(m) && std::chrono::steady_clock::now() < deadline) {
                        pollfd out{mosquitto_socket(m), POLLOUT, 0};
                        if (::poll(&out, 1, 100) > 0
                            && mosquitto_loop_write(m, 1) != MOSQ_ERR_SUCCESS)
                            return;
                    }
                };
                flush();
                if (!topic.isEmpty() && s->connack == 0)
                    mosquitto_publish(m, nullptr, topic.constData(), int(payload.size()),
                        payload.constData(), 0, true);
                flush();
                mosquitto_disconnect(m);
                while (mosquitto_loop(m, 100, 1) == MOSQ_ERR_SUCCESS
                    && std::chrono::steady_clock::now() < deadline) { }
                break;
            }
            pollfd fds[2] = {
                {mosquitto_socket(m), short(POLLIN | (mosquitto_want_write(m) ? POLLOUT : 0)), 0},
                {s->wakePipe[0], POLLIN, 0}};
            if (::poll(fds, 2, 1000) < 0 && errno != EINTR) {
                rc = MOSQ_ERR_ERRNO;
                break;
            }
            if (fds[1].revents & POLLIN)
                s->runRequests();
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
                rc = mosquitto_loop_read(m, 1);
            if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(m))
                rc = mosquitto_loop_write(m, 1);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop_misc(m);
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
        m_shared->wakeUp();
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
    m_shared->request({topic, payload, qos, retain, false});
    return true;
}

bool MqttLink::subscribe(const QByteArray &pattern, int qos)
{
    if (!m_shared || m_status != Status::Connected)
        return false;
    m_shared->request({pattern, {}, qos, false, true});
    return true;
}

void MqttLink::setStatus(Status status, const QString &reason)
{
    if (status == m_status && reason == m_reason)
        return;
    m_status = status;
    m_reason = reason;
    Q_EMIT statusChanged(status, reason);
}
