#include "HttpAccess.h"

#include "FileAccess.h"
#include "HttpMessage.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QUrl>

#include <array>
#include <chrono>

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

QByteArray HttpAccess::makeToken()
{
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.data()), sizeof(words))
        .toBase64(base64url);
}

bool HttpAccess::guarded(const HttpRequest &request)
{
    return request.path == QLatin1String("/api/v1")
        || request.path.startsWith(QLatin1String("/api/v1/"));
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

bool HttpAccess::offersToken(const HttpRequest &request)
{
    if (request.hasHeader("authorization"))
        return true;
    for (const auto &[name, value] : request.headers) {
        if (name == "sec-websocket-protocol" && value.contains("bearer."))
            return true;
    }
    return false;
}

bool HttpAccess::sameOrigin(const HttpRequest &request)
{
    if (!request.hasHeader("origin"))
        return true;
    const QUrl origin(QString::fromLatin1(request.header("origin")));
    if (!origin.isValid()
        || (origin.scheme() != QLatin1String("http") && origin.scheme() != QLatin1String("https")))
        return false;
    // A Host without a port names the default port of the scheme the page came by.
    const int defaultPort = origin.scheme() == QLatin1String("https") ? 443 : 80;
    const QString port = QString::number(origin.port(defaultPort));
    const QString host = origin.host() + QLatin1Char(':') + port;
    QString requestHost = QString::fromLatin1(request.header("host")).toLower();
    if (!requestHost.contains(QLatin1Char(':')) || requestHost.endsWith(QLatin1Char(']')))
        requestHost += QLatin1Char(':') + QString::number(defaultPort);
    // QUrl gives an IPv6 host without brackets; the Host header has them.
    const QString originHost = origin.host().contains(QLatin1Char(':'))
        ? QLatin1Char('[') + origin.host() + QStringLiteral("]:") + port
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

TokenThrottle::TokenThrottle()
    : m_clock([] {
          return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::steady_clock::now().time_since_epoch())
                            .count());
      })
{ }

qint64 TokenThrottle::pauseLeft(const QHostAddress &address) const
{
    const auto it = m_records.constFind(address);
    if (it == m_records.constEnd())
        return 0;
    return qMax<qint64>(0, it->pausedUntil - m_clock());
}

qint64 TokenThrottle::failed(const QHostAddress &address)
{
    const qint64 now = m_clock();
    if (!m_records.contains(address) && m_records.size() >= MaxAddresses)
        forgetOld(now);
    Record &record = m_records[address];
    if (now - qMax(record.lastEvent, record.pausedUntil) >= ForgetMs)
        record = Record{};
    record.lastEvent = now;
    record.failures.removeIf([now](qint64 at) { return now - at >= WindowMs; });
    record.failures.append(now);
    if (record.failures.size() < MaxFailures)
        return 0;
    record.failures.clear();
    record.lastPause
        = record.lastPause == 0 ? FirstPauseMs : qMin(2 * record.lastPause, MaxPauseMs);
    record.pausedUntil = now + record.lastPause;
    return record.lastPause;
}

void TokenThrottle::succeeded(const QHostAddress &address)
{
    m_records.remove(address);
}

void TokenThrottle::forgetOld(qint64 now)
{
    m_records.removeIf([now](const QHash<QHostAddress, Record>::iterator &it) {
        return now - qMax(it->lastEvent, it->pausedUntil) >= ForgetMs;
    });
    if (m_records.size() < MaxAddresses)
        return;
    auto quietest = m_records.begin();
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        if (qMax(it->lastEvent, it->pausedUntil) < qMax(quietest->lastEvent, quietest->pausedUntil))
            quietest = it;
    }
    m_records.erase(quietest);
}
