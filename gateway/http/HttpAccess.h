#pragma once

#include <QByteArray>
#include <QString>

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

    bool tokenRequired() const { return !m_token.isEmpty(); }
    bool accepts(const HttpRequest &request) const;
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
