#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

// The bounds every HTTP client of the gateway lives within. A request that passes them is
// read whole before anything acts on it; one that does not is answered with an error status
// and its connection closed, so that a slow or hostile client can hold only this much memory.
struct HttpLimits
{
    int maxConnections = 64; // HTTP connections at once, event sockets included
    int maxEventClients = 48; // open /api/v1/events sockets
    int idleMs = 30000; // a connection that sends nothing for this long is closed
    // A request's head must be complete this long after its first byte (over TLS, after the
    // connection opened), and its body within bodyMs plus a second for every bodyBytesPerSecond
    // it declares; else 408. Without them a client sending a byte now and then would hold its
    // place for ever.
    int headMs = 10000;
    int bodyMs = 10000;
    int bodyBytesPerSecond = 1024;
    // Each event socket is pinged this often, and closed when a ping's pong has not come
    // back within eventPongMs, so that sockets whose far end has gone free their places.
    int eventPingMs = 30000;
    int eventPongMs = 30000;
    qsizetype maxHeadBytes = 8192; // request line and headers
    int maxHeaderLines = 64;
    qsizetype maxBodyBytes = 16384; // the largest JSON the API takes is a few hundred bytes
    qint64 maxEventMessageBytes = 4096; // what an event client may send (it need send nothing)
};

// One HTTP request as the gateway's handlers see it: the project's own type, so that handlers
// can be driven without a socket (tests, fuzzing).
struct HttpRequest
{
    QByteArray method; // as sent, e.g. "GET"
    QByteArray target; // as sent, e.g. "/api/v1/routes/3?x=1"
    QString path; // percent-decoded path of the target
    QUrlQuery query;
    QByteArray version; // "HTTP/1.1" or "HTTP/1.0"
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case, values trimmed
    QByteArray body;
    QHostAddress remoteAddress;

    // The first value of a header (name in lower case), empty when absent.
    QByteArray header(const QByteArray &lowerName) const;
    bool hasHeader(const QByteArray &lowerName) const;
    // Whether the connection stays open after the answer (HTTP/1.1 unless "close").
    bool keepAlive() const;
    // A WebSocket opening handshake (Upgrade: websocket on a GET).
    bool isWebSocketUpgrade() const;
};

// One answer. Content-Length, Connection and the usual safety headers are added on writing.
struct HttpResponse
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra headers

    static HttpResponse json(int status, const QByteArray &body);
    // {"error": code, "message": message}: every error of the API has this shape.
    static HttpResponse error(int status, const QString &code, const QString &message);

    static QByteArray reasonPhrase(int status);
    QByteArray serialize(bool keepAlive, bool headOnly = false) const;
};

// Reads the first request from the front of a buffer.
struct HttpParse
{
    enum Status { NeedMore, Complete, Failed };
    Status status = NeedMore;
    qsizetype consumed = 0; // bytes of the buffer the request took (Complete only)
    HttpRequest request; // Complete only
    int errorStatus = 0; // Failed only: 400, 413, 431, 501 or 505
    QString errorMessage;
    // NeedMore only: the declared length of a body still awaited once the head is complete;
    // -1 while the head itself is not.
    qsizetype awaitedBody = -1;
};

HttpParse parseHttpRequest(const QByteArray &buffer, const HttpLimits &limits);
