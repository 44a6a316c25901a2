// HTTP requests of the online services, on a network thread of their own. Each request ends in
// exactly one call of its completion, on the queue the session names (the main queue by default, a
// serial queue, or none: the network thread itself), whatever happens: any status, a refused or
// reset connection, silence, a reply that trickles for ever, or the application quitting.
//
//   HttpSession session;
//   session.post(Endpoints::url(Endpoint::eventLog, "/api/log/receive"), json,
//                {{"Content-Type", "application/json"}}, [](const HttpResponse& r) { ... });
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class DispatchQueue;

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// A request that got no complete HTTP reply.
struct HttpError {
    enum class Code {
        notConfigured,   // the endpoint has no origin
        refusedByPolicy, // the URL breaks the https/loopback rule
        cannotConnect,   // connection refused, host not found
        connectionLost,  // reset or closed before the reply was complete
        timedOut,        // silent for the idle time-out, or longer than the request ceiling
        replyTooLarge,   // the reply passed the session's size cap: the request was aborted there
        cancelled,       // the application quit
        secureConnectionFailed,
        other,
    };
    Code code = Code::other;
    std::string message;
};

struct HttpResponse {
    int statusCode = 0;            // 0 without a reply
    std::string contentType;       // the Content-Type header as sent
    std::string body;              // empty when the reply had none or it was over the size cap
    bool bodyDiscarded = false;    // the body was longer than the cap (the error is then replyTooLarge)
    std::optional<HttpError> error;

    bool isTransportError() const { return error.has_value(); }
    bool isSuccessStatus() const { return !error && statusCode >= 200 && statusCode < 300; }
    // The media type of the Content-Type header, lower case, without parameters.
    std::string mediaType() const;
};

class HttpSession {
public:
    struct Configuration {
        HttpHeaders headers;                  // added to every request of the session
        double idleTimeout = 60.0;            // seconds without a byte moving
        double requestCeiling = 300.0;        // a request ends after this, whatever still trickles in
        // A longer reply is cut off as soon as it passes this, and the request fails (replyTooLarge).
        std::size_t maximumBodySize = 1 << 20;
    };
    using Completion = std::function<void(const HttpResponse&)>;

    // `completionQueue` must outlive the session's requests; null runs completions on the network thread.
    HttpSession();
    explicit HttpSession(Configuration configuration);
    HttpSession(Configuration configuration, DispatchQueue* completionQueue);
    // Requests already sent run on and complete as usual.
    ~HttpSession();

    // Sends one POST (Content-Type application/octet-stream unless the headers say otherwise). No
    // cache, no cookies, no redirects followed; TLS errors are never ignored.
    void post(const std::string& url, std::string body, const HttpHeaders& headers, Completion completion);

    // Ends every request in flight (each completes once, cancelled) and stops the network thread,
    // within 2 s. Runs by itself when the application quits; later requests are cancelled at once.
    static void shutdown();
    // Requests sent and not yet completed (tests).
    static std::size_t requestsInFlight();

private:
    Configuration configuration_;
    DispatchQueue* queue_;
};

}  // namespace platform
