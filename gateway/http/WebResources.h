#pragma once

#include "HttpMessage.h"

#include <optional>

// The web control page: plain files compiled into the program, so that it works offline and
// needs nothing from outside. Only the files listed are served; no path reaches a folder.
class WebResources final
{
public:
    // The answer for GET or HEAD of a page file, or nothing when the path names none.
    static std::optional<HttpResponse> serve(const HttpRequest &request);
};
