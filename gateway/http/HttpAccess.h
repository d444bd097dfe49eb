#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>

#include <functional>

struct HttpRequest;

// Who may use the API and the event socket. With a token set (always when the gateway listens
// beyond loopback), API calls must send it as "Authorization: Bearer TOKEN"; a browser cannot
// set that header on a WebSocket handshake, so the event socket also takes it as one of the
// offered subprotocols, "bearer." followed by the token in base64url without padding.
// Static resources need no token: nothing in them is secret.
class HttpAccess final
{
public:
    explicit HttpAccess(QByteArray token = {});

    // The subprotocol the gateway selects on the event socket; browsers insist on one being
    // selected when they offer any.
    static QString eventSubprotocol() { return QStringLiteral("matrix-gateway"); }
    static QByteArray tokenSubprotocol(const QByteArray &token);

    // A token file larger than this is no token file.
    static constexpr qint64 MaxTokenFileSize = 4096;
    // The first line of the file, trimmed; empty with a reason in *error when unusable: not a
    // regular file (a FIFO, a device, a folder), larger than MaxTokenFileSize, unreadable.
    static QByteArray readTokenFile(const QString &path, QString *error);

    // A token shorter than this is refused at start: it could be guessed.
    static constexpr int MinTokenLength = 16;
    // A new random token: 32 bytes from the system's generator, in base64url.
    static QByteArray makeToken();

    bool tokenRequired() const { return !m_token.isEmpty(); }
    // Whether the request is one the token guards: the API and its event socket.
    static bool guarded(const HttpRequest &request);
    bool accepts(const HttpRequest &request) const;
    // Whether the request offers a token at all (right or wrong).
    static bool offersToken(const HttpRequest &request);
    // A browser names the page that sent a request in Origin. Requests that change something,
    // and the event socket, are taken only from pages of this gateway (or from clients that
    // are not browsers and send no Origin), so a page of another site open in the operator's
    // browser cannot drive the switcher through a loopback gateway.
    static bool sameOrigin(const HttpRequest &request);
    // Without a token, only requests to this machine by address or as "localhost": a page of
    // another site that points its own name at 127.0.0.1 (DNS rebinding) is the same origin
    // to the browser, but it cannot name the gateway by address.
    bool hostAccepted(const HttpRequest &request) const;

private:
    QByteArray m_token;
};

// Wrong tokens per client address. After MaxFailures within a minute the address is paused:
// every request of it that the token guards is answered 429 until the pause ends, the right
// token included, so that guessing cannot go on at the pace of the network. Each pause lasts
// twice the one before, up to MaxPauseMs; a right token, or an hour without a wrong one,
// forgets the address.
class TokenThrottle final
{
public:
    static constexpr int MaxFailures = 5;
    static constexpr qint64 WindowMs = 60 * 1000;
    static constexpr qint64 FirstPauseMs = 15 * 1000;
    static constexpr qint64 MaxPauseMs = 60 * 60 * 1000;
    static constexpr qint64 ForgetMs = 60 * 60 * 1000;
    // Addresses remembered at once; past this the one quiet longest is forgotten.
    static constexpr int MaxAddresses = 4096;

    using Clock = std::function<qint64()>; // monotonic milliseconds

    TokenThrottle();
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Milliseconds the address must still wait; 0 when it may try.
    qint64 pauseLeft(const QHostAddress &address) const;
    // Counts a wrong token; returns the pause it starts, or 0.
    qint64 failed(const QHostAddress &address);
    void succeeded(const QHostAddress &address);
    int addressCount() const { return int(m_records.size()); }

private:
    struct Record
    {
        QList<qint64> failures; // within the last WindowMs
        qint64 pausedUntil = 0;
        qint64 lastPause = 0;
        qint64 lastEvent = 0;
    };
    void forgetOld(qint64 now);

    Clock m_clock;
    QHash<QHostAddress, Record> m_records;
};
