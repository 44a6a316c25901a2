// An HTTP server on 127.0.0.1 for the tests of the online services: replies follow a script per
// path (status, type, body, or misbehaviour: hang, reset, a huge body, a trickle, a chunked body
// written as fast as it is taken, for ever), and every
// request is logged. Runs in the thread that creates it (the main thread's event loop).
//
//   FakeHttpServer server;
//   server.script("/batch", {FakeHttpServer::Reply::status(503)});
//   ::setenv("TAMBERLO_COLLECT_URL", server.origin().c_str(), 1);
//   ASSERT_TRUE(server.waitForRequests("/batch", 1));
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace testsupport {

class FakeHttpServer {
public:
    struct Reply {
        enum class Kind { normal, hang, reset, huge, trickle, endless };
        Kind kind = Kind::normal;
        int statusCode = 200;
        std::string contentType = "application/json";
        std::string body = "{}";
        std::size_t hugeBytes = 3 << 20;  // huge: the body's size
        int trickleMilliseconds = 100;    // trickle: one byte this often, for ever

        static Reply status(int code, std::string type = "application/json", std::string body = "{}") {
            Reply reply;
            reply.statusCode = code;
            reply.contentType = std::move(type);
            reply.body = std::move(body);
            return reply;
        }
        static Reply of(Kind kind) {
            Reply reply;
            reply.kind = kind;
            return reply;
        }
    };

    struct Request {
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
        double receivedAt = 0;  // seconds on the monotonic clock
    };

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    // "http://127.0.0.1:<port>".
    std::string origin() const;
    // The replies for a path, in turn; once they are used up, `otherwise` answers.
    void script(const std::string& path, std::vector<Reply> replies, Reply otherwise);
    void script(const std::string& path, std::vector<Reply> replies);

    // A gate before the scripts: a request it answers (a reply) takes that reply instead of the
    // path's script, which is then not used up. Services that sign their requests check them here.
    using Gate = std::function<std::optional<Reply>(const Request&)>;
    void setGate(Gate gate);

    // Every request so far, or those for one path.
    std::vector<Request> requests(const std::string& path = "") const;
    // Spins the event loop until `count` requests for the path arrived; false after `seconds`.
    bool waitForRequests(const std::string& path, std::size_t count, double seconds = 20.0) const;

    // Body bytes written so far by endless replies (the server stops one at 256 MiB); any thread.
    std::size_t endlessBytesSent() const { return endlessBytes_; }

    // An origin where nothing listens (connections are refused).
    static std::string refusingOrigin();

private:
    struct Connection;
    struct Script {
        std::vector<Reply> replies;
        std::size_t next = 0;
        Reply otherwise;
    };
    void accept();
    void readFrom(Connection& connection);
    void answer(Connection& connection, const Reply& reply);

    std::unique_ptr<QTcpServer> server_;
    std::map<std::string, Script> scripts_;
    Gate gate_;
    std::vector<Request> requests_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::atomic<std::size_t> endlessBytes_{0};
};

// Spins the main event loop for the given seconds.
void runLoop(double seconds);
// Spins it until the condition holds; false after `seconds`.
template <class Condition>
bool runLoopUntil(Condition condition, double seconds = 20.0);

}  // namespace testsupport

#include <QCoreApplication>
#include <QDeadlineTimer>

template <class Condition>
bool testsupport::runLoopUntil(Condition condition, double seconds) {
    QDeadlineTimer deadline(qint64(seconds * 1000));
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}
