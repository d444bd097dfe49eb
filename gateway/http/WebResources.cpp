#include "WebResources.h"

#include <QFile>

namespace {

struct WebFile
{
    const char *path;
    const char *resource;
    const char *contentType;
};

constexpr WebFile webFiles[] = {
    {"/", ":/matrix-gateway/web/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/matrix-gateway/web/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/matrix-gateway/web/app.js", "text/javascript; charset=utf-8"},
    {"/app.css", ":/matrix-gateway/web/app.css", "text/css; charset=utf-8"},
    {"/icon.svg", ":/matrix-gateway/web/icon.svg", "image/svg+xml"},
};

} // namespace

std::optional<HttpResponse> WebResources::serve(const HttpRequest &request)
{
    if (request.method != "GET" && request.method != "HEAD")
        return std::nullopt;
    for (const WebFile &file : webFiles) {
        if (request.path != QLatin1String(file.path))
            continue;
        QFile resource(QString::fromLatin1(file.resource));
        if (!resource.open(QIODevice::ReadOnly))
            return HttpResponse::error(500, QStringLiteral("internal"),
                QStringLiteral("The page is missing from this build."));
        HttpResponse response;
        response.contentType = file.contentType;
        response.body = resource.readAll();
        // Everything comes from this gateway; the page's own script talks only to it.
        response.headers = {
            {"Content-Security-Policy",
                "default-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data:; "
                "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
            {"Cache-Control", "no-cache"},
            {"Referrer-Policy", "no-referrer"},
        };
        return response;
    }
    return std::nullopt;
}
