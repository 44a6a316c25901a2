#include "platform/network/Endpoints.h"

#include <QHostAddress>
#include <QUrl>

#include <cstdlib>

#ifndef TAMBERLO_DEFAULT_EVENTLOG_URL
#define TAMBERLO_DEFAULT_EVENTLOG_URL ""
#endif
#ifndef TAMBERLO_DEFAULT_COLLECT_URL
#define TAMBERLO_DEFAULT_COLLECT_URL ""
#endif
#ifndef TAMBERLO_DEFAULT_FEEDBACK_URL
#define TAMBERLO_DEFAULT_FEEDBACK_URL ""
#endif
#ifndef TAMBERLO_DEFAULT_ACCOUNT_URL
#define TAMBERLO_DEFAULT_ACCOUNT_URL ""
#endif
#ifndef TAMBERLO_DEFAULT_TRACKING_ID
#define TAMBERLO_DEFAULT_TRACKING_ID ""
#endif

namespace platform::Endpoints {

namespace {
std::string setting(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? std::string(value) : std::string(fallback);
}

bool isLoopbackHost(const QString& host) {
    if (host.compare("localhost", Qt::CaseInsensitive) == 0) return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}
}  // namespace

std::string origin(Endpoint endpoint) {
    std::string text;
    switch (endpoint) {
    case Endpoint::eventLog: text = setting("TAMBERLO_EVENTLOG_URL", TAMBERLO_DEFAULT_EVENTLOG_URL); break;
    case Endpoint::collect: text = setting("TAMBERLO_COLLECT_URL", TAMBERLO_DEFAULT_COLLECT_URL); break;
    case Endpoint::feedback: text = setting("TAMBERLO_FEEDBACK_URL", TAMBERLO_DEFAULT_FEEDBACK_URL); break;
    case Endpoint::account: text = setting("TAMBERLO_ACCOUNT_URL", TAMBERLO_DEFAULT_ACCOUNT_URL); break;
    }
    while (!text.empty() && text.back() == '/') text.pop_back();
    return text;
}

std::string url(Endpoint endpoint, const std::string& path) {
    const std::string base = origin(endpoint);
    if (base.empty()) return {};
    if (path.empty() || path.front() == '/') return base + path;
    return base + "/" + path;
}

std::string trackingID() { return setting("TAMBERLO_TRACKING_ID", TAMBERLO_DEFAULT_TRACKING_ID); }

std::optional<std::string> refusal(const std::string& text) {
    if (text.empty()) return "endpoint not configured";
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return "not a valid URL: " + text;
    const QString scheme = url.scheme().toLower();
    if (scheme == "https") return std::nullopt;
    if (scheme == "http") {
        if (isLoopbackHost(url.host())) return std::nullopt;
        return "plain http is allowed only to this machine: " + text;
    }
    return "unsupported scheme: " + text;
}

}  // namespace platform::Endpoints
