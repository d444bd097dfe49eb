#pragma once

// What the fuzz targets share: the checks, the application object, the link over an in-process
// wire whose far end the fuzzer plays, and (for the network module targets) a socket that sends
// nothing.
#include "InProcessTransport.h"
#include "TKVCOMControl.h"

#include <QByteArrayList>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <memory>
#include <optional>

// Aborts the run so that libFuzzer records the input; works in every build type.
inline void fuzzCheck(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// The link's waits run local event loops, which need an application object. One is made for
// the whole run; the link's informational logging is silenced so the fuzzer output stays
// readable and fast.
inline void fuzzSetUpApplication(const char *name)
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>(name), nullptr};
    static QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("matrix.link*=false"));
}

// Waits of one 1 ms tick and no pause between attempts, so that an input costs at most a few
// milliseconds; no grace period after a time-out, as late pieces are part of what is fuzzed.
inline Timing fuzzTiming()
{
    Timing timing = Timing::fast();
    timing.replyTicks = 1;
    timing.retryPauseMs = 0;
    timing.drainGraceMs = 0;
    return timing;
}

// The link on an in-process wire whose far end the fuzzer plays; with the link's own timing
// unless one is given.
struct FuzzLink
{
    explicit FuzzLink(const std::optional<Timing> &timing = std::nullopt)
    {
        if (timing)
            link.setTiming(*timing);
        auto owned = std::make_unique<InProcessTransport>();
        wire = owned.get();
        link.setTransport(cmLAN, std::move(owned));
    }
    TKVCOMControl link;
    InProcessTransport *wire = nullptr; // the link's
};

// The far end answers with chosen bytes: now at once, then each later piece from the event
// loop, as a line hands over what has arrived by then.
inline void fuzzAnswer(InProcessTransport *wire, const QByteArray &now, const QByteArrayList &later)
{
    wire->deliver(now);
    for (const QByteArray &piece : later) {
        QMetaObject::invokeMethod(
            wire, [wire, piece] { wire->deliver(piece); }, Qt::QueuedConnection);
    }
}

#if __has_include("DatagramSocket.h")
#include "DatagramSocket.h"

// Sends nothing, and tells every datagram sent: only a receive handler is under test.
class SilentSocket final : public DatagramSocket
{
public:
    explicit SilentSocket(quint16 port) : m_port(port) { }
    bool bindLocalPort(quint16) override { return true; }
    quint16 localPort() const override { return m_port; }
    void setBroadcastAllowed(bool) override { }
    qint64 send(const QByteArray &datagram, const QHostAddress &, quint16) override
    {
        return datagram.size();
    }
    QString errorString() const override { return {}; }

private:
    quint16 m_port;
};
#endif
