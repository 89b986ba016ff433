#pragma once
// What the service says, apart from the HTTP plumbing: the page, status.json, the sentences of
// error answers, and the checks of request headers.

#include "web/ImageHub.h"

#include <string>
#include <string_view>

namespace lumetra::web {

// The start of every page of the service, up to and with </head>: the common style and `style`.
std::string PageStart(std::string_view style);
// The single-image page: the current status rendered in, and a script that follows every change.
// `untilCameras`: the page is reloaded once the roster lists cameras (it stands in for their page).
std::string RenderPage(const ServiceStatus& status, bool untilCameras = false);
std::string RenderStatusJson(const ServiceStatus& status, long long uptimeSeconds);

// Whether an If-None-Match value names this entity tag.
bool EntityTagMatches(std::string_view ifNoneMatch, std::string_view etag);
// Whether an Authorization header carries `password` (HTTP Basic; the user name is not checked).
bool BasicAuthorizationCarries(std::string_view authorization, const std::string& password);
// Whether a Host header names a loopback address (with or without a port).
bool HostIsLoopback(std::string_view host);

std::string HtmlText(std::string_view text);

} // namespace lumetra::web
