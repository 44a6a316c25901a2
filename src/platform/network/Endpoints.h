// Where the online services send their requests. Each origin comes from an environment variable,
// else from the build's default (empty unless the build sets one); an empty origin means "not
// configured" and every request to it fails at once. Only https is allowed, and plain http only to
// this machine (127.0.0.0/8, ::1, localhost), so that nothing leaves it unencrypted.
#pragma once

#include <optional>
#include <string>

namespace platform {

enum class Endpoint {
    eventLog,  // TAMBERLO_EVENTLOG_URL: "/api/log/receive"
    collect,   // TAMBERLO_COLLECT_URL: "/batch", "/collect"
    feedback,  // TAMBERLO_FEEDBACK_URL
    account,   // TAMBERLO_ACCOUNT_URL
};

namespace Endpoints {

// The origin of the service without a trailing slash; empty when not configured.
std::string origin(Endpoint endpoint);
// The origin followed by the path ("/batch"); empty when the origin is not configured.
std::string url(Endpoint endpoint, const std::string& path);
// The web-analytics tracking ID (TAMBERLO_TRACKING_ID, else the build's default).
std::string trackingID();

// Why the URL may not be requested ("endpoint not configured", "plain http to a host that is not
// this machine", ...); none when it may.
std::optional<std::string> refusal(const std::string& url);

}  // namespace Endpoints
}  // namespace platform
