#include "HttpAccess.h"

#include "FileAccess.h"
#include "HttpMessage.h"

#include <QHostAddress>
#include <QUrl>

namespace {

// Compares in time that depends only on the lengths, so that answer times do not tell how
// much of a guessed token was right.
bool equalTokens(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

constexpr auto base64url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

HttpAccess::HttpAccess(QByteArray token) : m_token(std::move(token)) { }

QByteArray HttpAccess::tokenSubprotocol(const QByteArray &token)
{
    return "bearer." + token.toBase64(base64url);
}

QByteArray HttpAccess::readTokenFile(const QString &path, QString *error)
{
    // A regular file only, read within a bound: a FIFO would block the start for good, and a
    // device such as /dev/zero never ends.
    const FileAccess::ReadResult file = FileAccess::readFile(path, MaxTokenFileSize);
    if (!file.ok) {
        *error = QStringLiteral("cannot read the token file %1: %2").arg(path, file.reason);
        return {};
    }
    const qsizetype end = file.bytes.indexOf('\n');
    const QByteArray token = (end < 0 ? file.bytes : file.bytes.left(end)).trimmed();
    if (token.isEmpty())
        *error = QStringLiteral("the token file %1 holds no token on its first line").arg(path);
    return token;
}

bool HttpAccess::accepts(const HttpRequest &request) const
{
    if (m_token.isEmpty())
        return true;
    const QByteArray authorization = request.header("authorization");
    if (authorization.size() > 7 && authorization.left(7).toLower() == "bearer "
        && equalTokens(authorization.mid(7).trimmed(), m_token)) {
        return true;
    }
    for (const auto &[name, value] : request.headers) {
        if (name != "sec-websocket-protocol")
            continue;
        for (const QByteArray &offered : value.split(',')) {
            const QByteArray protocol = offered.trimmed();
            if (!protocol.startsWith("bearer."))
                continue;
            const auto decoded = QByteArray::fromBase64Encoding(protocol.mid(7), base64url);
            if (decoded && equalTokens(*decoded, m_token))
                return true;
        }
    }
    return false;
}

bool HttpAccess::sameOrigin(const HttpRequest &request)
{
    if (!request.hasHeader("origin"))
        return true;
    const QUrl origin(QString::fromLatin1(request.header("origin")));
    if (!origin.isValid() || origin.scheme() != QLatin1String("http"))
        return false;
    const QString host = origin.host() + QLatin1Char(':') + QString::number(origin.port(80));
    QString requestHost = QString::fromLatin1(request.header("host")).toLower();
    if (!requestHost.contains(QLatin1Char(':')) || requestHost.endsWith(QLatin1Char(']')))
        requestHost += QStringLiteral(":80");
    // QUrl gives an IPv6 host without brackets; the Host header has them.
    const QString originHost = origin.host().contains(QLatin1Char(':'))
        ? QLatin1Char('[') + origin.host() + QStringLiteral("]:") + QString::number(origin.port(80))
        : host;
    return originHost.toLower() == requestHost;
}

bool HttpAccess::hostAccepted(const HttpRequest &request) const
{
    if (tokenRequired() || !request.hasHeader("host"))
        return true;
    QString host = QString::fromLatin1(request.header("host"));
    if (host.startsWith(QLatin1Char('['))) {
        host = host.mid(1, host.indexOf(QLatin1Char(']')) - 1);
    } else if (host.count(QLatin1Char(':')) == 1) {
        host = host.left(host.indexOf(QLatin1Char(':')));
    }
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || !QHostAddress(host).isNull();
}
