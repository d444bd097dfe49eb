#include "HttpMessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

// RFC 9110 token characters: header names and methods.
bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

// Header values may hold visible characters, spaces and tabs (and bytes >= 0x80), never
// control characters: a stray CR or NUL is refused rather than passed on.
bool isFieldValue(const QByteArray &text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

// Request targets are origin-form: "/" followed by visible ASCII.
bool isOriginForm(const QByteArray &target)
{
    if (!target.startsWith('/'))
        return false;
    for (const char c : target) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f)
            return false;
    }
    return true;
}

HttpParse failed(int status, const QString &message)
{
    HttpParse result;
    result.status = HttpParse::Failed;
    result.errorStatus = status;
    result.errorMessage = message;
    return result;
}

// Lines of the head end in CR LF; a bare LF is taken too, as many simple clients send it.
QList<QByteArray> headLines(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

} // namespace

QByteArray HttpRequest::header(const QByteArray &lowerName) const
{
    for (const auto &[name, value] : headers) {
        if (name == lowerName)
            return value;
    }
    return {};
}

bool HttpRequest::hasHeader(const QByteArray &lowerName) const
{
    for (const auto &entry : headers) {
        if (entry.first == lowerName)
            return true;
    }
    return false;
}

bool HttpRequest::keepAlive() const
{
    const QByteArray connection = header("connection").toLower();
    const QList<QByteArray> options = connection.split(',');
    auto has = [&](const QByteArray &option) {
        for (const QByteArray &o : options) {
            if (o.trimmed() == option)
                return true;
        }
        return false;
    };
    if (version == "HTTP/1.0")
        return has("keep-alive");
    return !has("close");
}

bool HttpRequest::isWebSocketUpgrade() const
{
    return method == "GET" && header("upgrade").toLower() == "websocket";
}

HttpResponse HttpResponse::json(int status, const QByteArray &body)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "application/json";
    response.body = body;
    return response;
}

HttpResponse HttpResponse::error(int status, const QString &code, const QString &message)
{
    const QJsonObject object{{QStringLiteral("error"), code}, {QStringLiteral("message"), message}};
    return json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QByteArray HttpResponse::reasonPhrase(int status)
{
    switch (status) {
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";

    default:
        return "Status";
    }
}

QByteArray HttpResponse::serialize(bool keepAlive, bool headOnly) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "X-Content-Type-Options: nosniff\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
    if (!headOnly)
        out += body;
    return out;
}

HttpParse parseHttpRequest(const QByteArray &buffer, const HttpLimits &limits)
{
    // The head ends at the first empty line.
    qsizetype headEnd = -1;
    qsizetype bodyStart = -1;
    const qsizetype crlf = buffer.indexOf("\r\n\r\n");
    const qsizetype lf = buffer.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf)) {
        headEnd = crlf;
        bodyStart = crlf + 4;
    } else if (lf >= 0) {
        headEnd = lf;
        bodyStart = lf + 2;
    }
    if (headEnd < 0) {
        if (buffer.size() > limits.maxHeadBytes)
            return failed(431, QStringLiteral("The request head is too large."));
        return {};
    }
    if (headEnd > limits.maxHeadBytes)
        return failed(431, QStringLiteral("The request head is too large."));

    const QList<QByteArray> lines = headLines(buffer.left(headEnd));
    if (lines.size() - 1 > limits.maxHeaderLines)
        return failed(431, QStringLiteral("The request has too many headers."));

    HttpRequest request;
    const QList<QByteArray> requestLine = lines.first().split(' ');
    if (requestLine.size() != 3)
        return failed(400, QStringLiteral("The request line is malformed."));
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    request.version = requestLine.at(2);
    if (!isToken(request.method))
        return failed(400, QStringLiteral("The request method is malformed."));
    if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") {
        if (request.version.startsWith("HTTP/"))
            return failed(505, QStringLiteral("Only HTTP/1.0 and HTTP/1.1 are served."));
        return failed(400, QStringLiteral("The request line is malformed."));
    }
    if (!isOriginForm(request.target))
        return failed(400, QStringLiteral("The request target is malformed."));

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        // A line folded onto the previous one (leading white space) is obsolete and refused.
        if (colon <= 0)
            return failed(400, QStringLiteral("A header line is malformed."));
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (!isToken(name) || !isFieldValue(value))
            return failed(400, QStringLiteral("A header line is malformed."));
        request.headers.append({name, value});
    }
    if (request.version == "HTTP/1.1" && !request.hasHeader("host"))
        return failed(400, QStringLiteral("The request has no Host header."));

    // Bodies come with a length. Chunked bodies are not taken: no client of this API needs
    // them, and their length is not known before reading them.
    if (request.hasHeader("transfer-encoding"))
        return failed(
            501, QStringLiteral("Transfer-Encoding is not supported; send Content-Length."));
    qsizetype length = 0;
    bool lengthSeen = false;
    for (const auto &[name, value] : std::as_const(request.headers)) {
        if (name != "content-length")
            continue;
        bool ok = !value.isEmpty();
        for (const char c : value)
            ok = ok && c >= '0' && c <= '9';
        // Digits only; long numbers are too large whatever they say.
        const qsizetype parsed = ok && value.size() <= 12 ? value.toLongLong() : -1;
        if (!ok)
            return failed(400, QStringLiteral("Content-Length is malformed."));
        if (parsed < 0 || parsed > limits.maxBodyBytes) {
            return failed(413,
                QStringLiteral("The request body is larger than %1 bytes.")
                    .arg(limits.maxBodyBytes));
        }
        if (lengthSeen && parsed != length)
            return failed(400, QStringLiteral("Content-Length is given twice."));
        length = parsed;
        lengthSeen = true;
    }
    if (buffer.size() - bodyStart < length) {
        HttpParse more;
        more.awaitedBody = length;
        return more;
    }

    request.body = buffer.mid(bodyStart, length);
    const qsizetype question = request.target.indexOf('?');
    const QByteArray rawPath = question < 0 ? request.target : request.target.left(question);
    request.path = QUrl::fromPercentEncoding(rawPath);
    if (question >= 0)
        request.query = QUrlQuery(QString::fromLatin1(request.target.mid(question + 1)));

    HttpParse result;
    result.status = HttpParse::Complete;
    result.consumed = bodyStart + length;
    result.request = std::move(request);
    return result;
}
