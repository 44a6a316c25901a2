// The platform pieces under the online services: the URL policy, HTTP requests that always end
// exactly once, and private user defaults.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/Endpoints.h"
#include "platform/network/HttpSession.h"
#include "support/FakeHttpServer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

using platform::HttpError;
using platform::HttpResponse;
using platform::HttpSession;
using testsupport::FakeHttpServer;

TEST(OnlineEndpoints, OnlyHttpsOrLoopbackHttpIsAllowed) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"https://log.example.com/api/log/receive", true},
        {"http://127.0.0.1:8080/batch", true},
        {"http://127.1.2.3/batch", true},
        {"http://[::1]:9/batch", true},
        {"http://localhost:9/x", true},
        {"http://LOCALHOST/x", true},
        {"http://example.com/batch", false},
        {"http://128.0.0.1/batch", false},
        {"http://localhost.example.com/x", false},
        {"http://[::2]/x", false},
        {"ftp://127.0.0.1/x", false},
        {"file:///etc/passwd", false},
        {"", false},
        {"not a url", false},
    };
    for (const auto& [url, allowed] : cases)
        EXPECT_EQ(!platform::Endpoints::refusal(url).has_value(), allowed) << url;
    EXPECT_EQ(platform::Endpoints::refusal(""), "endpoint not configured");
}

TEST(OnlineEndpoints, OriginsComeFromTheEnvironmentElseNothing) {
    // The shared test main unsets every endpoint: nothing a test does reaches the internet.
    EXPECT_EQ(platform::Endpoints::url(platform::Endpoint::eventLog, "/api/log/receive"), "");
    EXPECT_EQ(platform::Endpoints::trackingID(), "");
    ::setenv("TAMBERLO_COLLECT_URL", "http://127.0.0.1:5/", 1);
    EXPECT_EQ(platform::Endpoints::url(platform::Endpoint::collect, "/batch"), "http://127.0.0.1:5/batch");
    ::unsetenv("TAMBERLO_COLLECT_URL");
}

namespace {

struct Outcome {
    std::atomic<int> calls{0};
    HttpResponse response;
};

HttpSession::Completion recordInto(Outcome& outcome) {
    return [&outcome](const HttpResponse& response) {
        outcome.response = response;
        ++outcome.calls;
    };
}

}  // namespace

TEST(OnlineHttpSession, EveryReplyScriptEndsInExactlyOneCompletion) {
    using Kind = FakeHttpServer::Reply::Kind;
    FakeHttpServer server;
    struct Case {
        std::string path;
        FakeHttpServer::Reply reply;
        int status;                              // expected status (0: transport error)
        std::optional<HttpError::Code> error;
        std::string body;
    };
    FakeHttpServer::Reply huge = FakeHttpServer::Reply::of(Kind::huge);
    const std::vector<Case> cases{
        {"/ok", FakeHttpServer::Reply::status(200, "application/json; charset=utf-8", "{\"a\":1}"), 200, {}, "{\"a\":1}"},
        {"/500", FakeHttpServer::Reply::status(500), 500, {}, "{}"},
        {"/503", FakeHttpServer::Reply::status(503, "", ""), 503, {}, ""},
        {"/404", FakeHttpServer::Reply::status(404, "text/html", "<html>no</html>"), 404, {}, "<html>no</html>"},
        {"/garbage", FakeHttpServer::Reply::status(200, "text/html", "\x01\x02<<garbage"), 200, {}, "\x01\x02<<garbage"},
        {"/octets", FakeHttpServer::Reply::status(200, "application/octet-stream", "xyz"), 200, {}, "xyz"},
        {"/reset", FakeHttpServer::Reply::of(Kind::reset), 0, HttpError::Code::connectionLost, ""},
        {"/hang", FakeHttpServer::Reply::of(Kind::hang), 0, HttpError::Code::timedOut, ""},
        {"/huge", huge, 200, HttpError::Code::replyTooLarge, ""},
        {"/trickle", FakeHttpServer::Reply::of(Kind::trickle), 0, HttpError::Code::timedOut, ""},
    };
    HttpSession::Configuration configuration;
    configuration.idleTimeout = 1.0;     // silence
    configuration.requestCeiling = 2.5;  // a trickle never falls silent
    HttpSession session(configuration);
    std::vector<std::unique_ptr<Outcome>> outcomes;
    for (const auto& c : cases) {
        server.script(c.path, {}, c.reply);  // a retry after a reset gets the same
        outcomes.push_back(std::make_unique<Outcome>());
        session.post(server.origin() + c.path, "{}", {{"Content-Type", "application/json"}}, recordInto(*outcomes.back()));
    }
    // Refused, not configured and refused by policy end the same way.
    for (const std::string& url : {FakeHttpServer::refusingOrigin() + "/x", std::string(), std::string("http://example.com/x")}) {
        outcomes.push_back(std::make_unique<Outcome>());
        session.post(url, "{}", {}, recordInto(*outcomes.back()));
    }
    ASSERT_TRUE(testsupport::runLoopUntil([&] {
        for (const auto& o : outcomes)
            if (o->calls == 0) return false;
        return true;
    }, 60));
    testsupport::runLoop(0.5);  // nothing more arrives

    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        const auto& outcome = *outcomes[i];
        EXPECT_EQ(outcome.calls, 1) << c.path;
        EXPECT_EQ(outcome.response.statusCode, c.status) << c.path;
        EXPECT_EQ(outcome.response.error.has_value(), c.error.has_value()) << c.path;
        if (c.error && outcome.response.error) {
            EXPECT_EQ(outcome.response.error->code, *c.error) << c.path;
        }
        EXPECT_EQ(outcome.response.body, c.body) << c.path;
    }
    EXPECT_TRUE(outcomes[8]->response.bodyDiscarded);  // over 1 MiB: no body, and a failure
    EXPECT_FALSE(outcomes[8]->response.isSuccessStatus());
    EXPECT_EQ(outcomes[0]->response.mediaType(), "application/json");
    const HttpError::Code ends[] = {HttpError::Code::cannotConnect, HttpError::Code::notConfigured,
                                    HttpError::Code::refusedByPolicy};
    for (size_t i = 0; i < 3; ++i) {
        const auto& outcome = *outcomes[cases.size() + i];
        EXPECT_EQ(outcome.calls, 1);
        ASSERT_TRUE(outcome.response.error);
        EXPECT_EQ(outcome.response.error->code, ends[i]);
    }
    // The request went out as given, no cookies.
    const auto requests = server.requests("/ok");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "{}");
    EXPECT_EQ(requests[0].headers.count("cookie"), 0u);
}

// A reply that never ends is cut off once it passes the cap: the caller sees a failure, not a
// success without a body. (How far the access manager reads ahead of the cap on loopback varies
// with the load, from a few MiB to all the server sends: the bytes are not checked here.)
namespace {
// Kilobytes of one line of /proc/self/status ("VmRSS:", "VmHWM:").
long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}
}  // namespace

// A reply past the cap ends at the socket: the server gets to send little beyond the cap (what the
// sockets' buffers hold), where a session that read on would take all 256 MiB into memory.
TEST(OnlineHttpSession, EndlessChunkedReplyIsAbortedAtTheCap) {
    FakeHttpServer server;
    server.script("/endless", {}, FakeHttpServer::Reply::of(FakeHttpServer::Reply::Kind::endless));
    HttpSession::Configuration configuration;
    configuration.maximumBodySize = 1 << 20;
    HttpSession session(configuration);
    Outcome outcome;
    // The peak from here on is what this request costs ("5" sets the peak back to what is resident).
    const bool peakReset = bool(std::ofstream("/proc/self/clear_refs") << "5");
    const long residentBefore = statusKilobytes("VmRSS:");
    session.post(server.origin() + "/endless", "{}", {}, recordInto(outcome));
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return outcome.calls > 0; }, 60));
    testsupport::runLoop(0.2);
    EXPECT_EQ(outcome.calls, 1);
    ASSERT_TRUE(outcome.response.error);
    EXPECT_EQ(outcome.response.error->code, HttpError::Code::replyTooLarge);
    EXPECT_FALSE(outcome.response.isSuccessStatus());
    EXPECT_TRUE(outcome.response.body.empty());
    EXPECT_EQ(HttpSession::requestsInFlight(), 0u);
    EXPECT_LE(server.endlessBytesSent(), std::size_t(8) << 20);
    if (peakReset) {
        EXPECT_LE(statusKilobytes("VmHWM:") - residentBefore, 32L << 10);
    }
}

TEST(OnlineHttpSession, CompletionRunsWhereTheSessionSays) {
    FakeHttpServer server;
    platform::DispatchQueue serial("io.tamberlo.test.http");
    std::atomic<int> onMain{0}, onSerial{0}, onNetwork{0};
    HttpSession mainSession;
    HttpSession serialSession(HttpSession::Configuration(), &serial);
    HttpSession networkSession(HttpSession::Configuration(), nullptr);
    mainSession.post(server.origin() + "/a", "", {}, [&](const HttpResponse&) {
        onMain += platform::DispatchQueue::main().isCurrent() ? 1 : 100;
    });
    serialSession.post(server.origin() + "/b", "", {}, [&](const HttpResponse&) { onSerial += serial.isCurrent() ? 1 : 100; });
    networkSession.post(server.origin() + "/c", "", {}, [&](const HttpResponse&) {
        onNetwork += platform::DispatchQueue::main().isCurrent() ? 100 : 1;
    });
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return onMain && onSerial && onNetwork; }));
    EXPECT_EQ(onMain, 1);
    EXPECT_EQ(onSerial, 1);
    EXPECT_EQ(onNetwork, 1);
}

// Ends the process's network thread: the last thing this test process does.
TEST(OnlineHttpSession, QuittingEndsRequestsInFlightOnceEachWithinTwoSeconds) {
    FakeHttpServer server;
    server.script("/hang", {}, FakeHttpServer::Reply::of(FakeHttpServer::Reply::Kind::hang));
    HttpSession session;
    std::vector<std::unique_ptr<Outcome>> outcomes;
    for (int i = 0; i < 3; ++i) {
        outcomes.push_back(std::make_unique<Outcome>());
        session.post(server.origin() + "/hang", "{}", {}, recordInto(*outcomes.back()));
    }
    ASSERT_TRUE(server.waitForRequests("/hang", 3));
    const auto started = std::chrono::steady_clock::now();
    HttpSession::shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome->calls, 1);
        ASSERT_TRUE(outcome->response.error);
        EXPECT_EQ(outcome->response.error->code, HttpError::Code::cancelled);
    }
    Outcome late;
    session.post(server.origin() + "/hang", "{}", {}, recordInto(late));
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return late.calls > 0; }));
    testsupport::runLoop(0.2);
    EXPECT_EQ(late.calls, 1);
    EXPECT_EQ(HttpSession::requestsInFlight(), 0u);
}

TEST(OnlineUserDefaults, FileIsPrivateAndListsAndDictionariesKeepTheirTypes) {
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/Tamberlo/Tamberlo.ini";
    {
        platform::UserDefaults defaults(path);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);  // before anything is written
        defaults.setString("token", "VEZEriduv.Save_Token");
        defaults.setArray(QJsonArray{"zh-Hans", 2, 2.5, true, QJsonObject{{"a", 1}}}, "list");
        defaults.setDictionary(QJsonObject{{"1.0", 3}, {"name", "x"}, {"on", false}}, "app.VersionRateDicKey");
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    ::chmod(path.c_str(), 0644);  // an older file is made private when it is opened
    platform::UserDefaults reopened(path);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(reopened.stringForKey("VEZEriduv.Save_Token"), "token");
    EXPECT_EQ(reopened.arrayForKey("list"), (QJsonArray{"zh-Hans", 2, 2.5, true, QJsonObject{{"a", 1}}}));
    EXPECT_EQ(reopened.dictionaryForKey("app.VersionRateDicKey"), (QJsonObject{{"1.0", 3}, {"name", "x"}, {"on", false}}));
    EXPECT_EQ(reopened.arrayForKey("VEZEriduv.Save_Token"), std::nullopt);
    EXPECT_EQ(reopened.dictionaryForKey("list"), std::nullopt);
}
