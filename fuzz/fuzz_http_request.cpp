// Reads fuzz-chosen bytes as HTTP requests the way the gateway's server does, and hands each
// complete request to the API handlers over a gateway without a switcher: every request is
// answered exactly once, with a known status and a JSON body for the API, and the reader never
// takes more bytes than it was given or a request without bytes. HTTPS connections read their
// decrypted bytes through this same reader.
#include "FuzzSupport.h"

#include "Gateway.h"
#include "GatewayApi.h"
#include "HttpMessage.h"
#include "HttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzSetUpApplication("fuzz_http_request");
    static Gateway gateway{GatewayConfig{}};
    static HttpServer server;
    static GatewayApi api(gateway, server);
    static const std::set<int> statuses{
        200, 400, 401, 403, 404, 405, 409, 413, 415, 429, 431, 501, 502, 503, 505, 507};

    QByteArray buffer(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // A connection's worth of requests, one after another, as keep-alive reads them.
    for (int requests = 0; requests < 16; ++requests) {
        const HttpParse parsed = parseHttpRequest(buffer, server.limits());
        if (parsed.status == HttpParse::NeedMore)
            break;
        if (parsed.status == HttpParse::Failed) {
            fuzzCheck(statuses.count(parsed.errorStatus) == 1);
            fuzzCheck(!parsed.errorMessage.isEmpty());
            break;
        }
        fuzzCheck(parsed.consumed > 0 && parsed.consumed <= buffer.size());
        fuzzCheck(parsed.request.body.size() <= server.limits().maxBodyBytes);

        int answers = 0;
        HttpResponse response;
        api.handle(parsed.request, [&answers, &response](const HttpResponse &r) {
            ++answers;
            response = r;
        });
        // The core answers from the event loop; without a switcher it answers at once.
        QElapsedTimer clock;
        clock.start();
        while (answers == 0 && clock.elapsed() < 1000)
            QCoreApplication::processEvents();
        fuzzCheck(answers == 1);
        fuzzCheck(statuses.count(response.status) == 1);
        if (parsed.request.path.startsWith(QLatin1String("/api/"))) {
            fuzzCheck(response.contentType == "application/json");
            fuzzCheck(QJsonDocument::fromJson(response.body).isObject());
        }
        buffer.remove(0, parsed.consumed);
    }
    // The gateway's event loop deletes what a handler let go with deleteLater() once control
    // returns to it; a loop of processEvents() outside exec() never does. Each input ends as a
    // pass of the running gateway's loop would, so nothing one input leaves outlives it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
