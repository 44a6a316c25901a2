// The event log: the bytes of its records, its retries, and the machine facts it reports.
#include "Services/Analytics/AnalyticsStore.h"
#include "Services/Analytics/RKTracker.h"
#include "Services/Analytics/UABuilder.h"
#include "Services/Analytics/support/OnlineFixtures.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/HttpSession.h"
#include "support/FakeHttpServer.h"

#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QFile>

#include <map>
#include <set>

using namespace tamberlo;
using testsupport::FakeHttpServer;

namespace {

std::string eventNameOf(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object().value("eventName").toString().toStdString();
}

// A record as the log endpoint must receive it, keys in order, with the fixed facts.
std::string expectedRecord(const std::string& name, const std::string& params) {
    return R"({"appInfo":{"appBundle":"io.tamberlo.Tamberlo","appVersion":"0.1.0","appVersionCode":"1",)"
           R"("firstActiveChannelName":"Web","installSource":"Web"},"channelName":"Web",)"
           R"("deviceInfo":{"category":"mac","deviceBrand":"apple","deviceModels":"Mac","first_install":1680000000500,)"
           R"("language":"zh-Hans","last_update":1690000000123,"os":"Debian GNU/Linux","osVersion":"12",)"
           R"("ua":"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) 10.0.0.7"},)"
           R"("eventName":")" + name + R"(","eventParam":)" + params +
           R"(,"eventTime":1700000000,"geoInfo":{"country":"zh_CN","zone":"Asia/Shanghai"},)"
           R"("sessionId":"00000000-0000-0000-0000-000000000001","userId":"USER-1","userInfo":{"userIp":"10.0.0.7"}})";
}

struct EventLogServer {
    FakeHttpServer server;
    EventLogServer() { ::setenv("TAMBERLO_EVENTLOG_URL", server.origin().c_str(), 1); }
    ~EventLogServer() { ::unsetenv("TAMBERLO_EVENTLOG_URL"); }
    std::vector<FakeHttpServer::Request> posts() const { return server.requests("/api/log/receive"); }
};

}  // namespace

TEST(EventLogRecord, GoldenBytesPerEvent) {
    auto& tracker = RKTracker::shareInstance();
    onlinetest::FixedFacts facts;
    EventLogServer log;
    tracker.resetForTesting();  // session 00000000-0000-0000-0000-000000000001
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setString("USER-1", RKTracker::userTrackIDKey);
    defaults.removeObjectForKey(RKTracker::userInstallDateKey);
    defaults.setInteger(1600000000, RKTracker::firstLaunchTimeKey);

    RKTracker::TrackEvent("button_click", QJsonObject{{"page_name", "VC_Home"}, {"button_name", "Action_Export"}});
    RKTracker::TrackImportantEvent("np_callback_event", QJsonObject{{"active_time", qint64(1680000000500)}});
    RKTracker::TrackEvent("Complete_Export", QJsonObject{{"step_name", "export_format"}, {"step_order", 2}, {"requestId", "R"}});
    RKTracker::StartSession();
    ASSERT_TRUE(log.server.waitForRequests("/api/log/receive", 4));

    const std::map<std::string, std::string> expected{
        {"button_click", expectedRecord("button_click", R"({"button_name":"Action_Export","page_name":"VC_Home"})")},
        {"np_callback_event", expectedRecord("np_callback_event", R"({"active_time":1680000000500})")},
        {"Complete_Export",
         expectedRecord("Complete_Export", R"({"requestId":"R","step_name":"export_format","step_order":2})")},
        {"wm_launch_event",
         expectedRecord("wm_launch_event", R"({"first_install":1680000000500,"first_launch":1600000000,)"
                                           R"("last_update":1690000000123,"wareNewUser":"true"})")},
    };
    std::map<std::string, std::string> received;
    for (const auto& request : log.posts()) {
        received[eventNameOf(request.body)] = request.body;
        EXPECT_EQ(request.headers.at("content-type"), "application/json");
    }
    EXPECT_EQ(received, expected);
}

TEST(EventLogRecord, TimesAreTruncatedToWholeSecondsAndMilliseconds) {
    onlinetest::FixedFacts facts;
    facts.now = 1700000000.9;
    EXPECT_EQ(RKTracker::getCurrentTimes(), 1700000000);
    facts.now = 1700000001.0;
    EXPECT_EQ(RKTracker::getCurrentTimes(), 1700000001);
    facts.bundleCreated = 1700000000.1234;
    EXPECT_EQ(RKTracker::appUpdateTime(), 1700000000123);
    platform::SystemFacts::current().creationDate = [](const std::string&) { return std::optional<double>(); };
    EXPECT_EQ(RKTracker::appUpdateTime(), 0);
    EXPECT_EQ(RKTracker::appInstallTime(), 0);
    EXPECT_EQ(RKTracker::MD5_32BIT("abc"), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(EventLogRecord, NewUserOnlyOnTheFirstDay) {
    onlinetest::FixedFacts facts;
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(RKTracker::userInstallDateKey);
    EXPECT_EQ(RKTracker::getIsNewUser(), "true");
    EXPECT_EQ(RKTracker::getIsNewUser(), "true");  // still the same day
    facts.now += 3 * 86400;
    EXPECT_EQ(RKTracker::getIsNewUser(), "false");
}

TEST(EventLogPost, AnImportantEventIsPostedAgainWithTheSameBytesUntilAccepted) {
    onlinetest::FixedFacts facts;
    EventLogServer log;
    log.server.script("/api/log/receive",
                      {FakeHttpServer::Reply::status(500), FakeHttpServer::Reply::status(200, "application/octet-stream", "?")},
                      FakeHttpServer::Reply::status(200, "text/html; charset=utf-8", "<html>ok</html>"));
    auto& tracker = RKTracker::shareInstance();
    tracker.resetForTesting();
    tracker.setRetryInterval(0.2);
    RKTracker::TrackImportantEvent("np_callback_event", QJsonObject{{"active_time", 1}});
    ASSERT_TRUE(log.server.waitForRequests("/api/log/receive", 3));
    testsupport::runLoop(1.0);  // accepted: no fourth post
    const auto posts = log.posts();
    ASSERT_EQ(posts.size(), 3u);
    EXPECT_EQ(posts[1].body, posts[0].body);
    EXPECT_EQ(posts[2].body, posts[0].body);
    EXPECT_GE(posts[1].receivedAt - posts[0].receivedAt, 0.15);
    // Delivered: nothing is left for the next start.
    EXPECT_TRUE(testsupport::runLoopUntil([] { return AnalyticsStore::shared().pendingEvents().empty(); }));

    // An ordinary event is tried once.
    log.server.script("/api/log/receive", {}, FakeHttpServer::Reply::status(503));
    RKTracker::TrackEvent("button_click", QJsonObject{{"page_name", "p"}});
    ASSERT_TRUE(log.server.waitForRequests("/api/log/receive", 4));
    testsupport::runLoop(1.0);
    EXPECT_EQ(log.posts().size(), 4u);
}

TEST(EventLogPost, WithoutAnEndpointAnImportantRecordIsKeptAndNotRetried) {
    onlinetest::FixedFacts facts;
    auto& tracker = RKTracker::shareInstance();
    tracker.resetForTesting();
    tracker.setRetryInterval(0.1);
    const size_t before = AnalyticsStore::shared().pendingEvents().size();
    RKTracker::TrackImportantEvent("np_callback_event", QJsonObject{{"active_time", 1}});
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return AnalyticsStore::shared().pendingEvents().size() == before + 1; }));
    testsupport::runLoop(0.3);
    EventLogServer log;  // an endpoint appears: only a new run would use it
    testsupport::runLoop(1.0);
    EXPECT_TRUE(log.posts().empty());
    EXPECT_EQ(AnalyticsStore::shared().pendingEvents().size(), before + 1);
}

TEST(EventLogPost, AcceptedRepliesAre2xxWithAJsonOrTextTypeOrNoBody) {
    struct Case {
        int status;
        std::string type;
        std::string body;
        bool accepted;
    };
    const std::vector<Case> cases{
        {200, "application/json", "{}", true},
        {201, "text/json", "{}", true},
        {200, "text/javascript", "x", true},
        {200, "text/html; charset=UTF-8", "<html>", true},
        {204, "Text/Plain", "ok", true},
        {200, "application/octet-stream", "x", false},
        {200, "", "", true},
        {200, "application/octet-stream", "", true},
        {500, "application/json", "{}", false},
        {404, "text/html", "", false},
        {302, "text/html", "", false},
    };
    for (const auto& c : cases) {
        platform::HttpResponse reply;
        reply.statusCode = c.status;
        reply.contentType = c.type;
        reply.body = c.body;
        EXPECT_EQ(RKTracker::isAcceptedReply(reply), c.accepted) << c.status << " " << c.type;
    }
    platform::HttpResponse failed;
    failed.error = platform::HttpError{platform::HttpError::Code::connectionLost, "reset"};
    EXPECT_FALSE(RKTracker::isAcceptedReply(failed));
}

TEST(EventLogRecord, OneSessionPerProcessAndOneUserPerInstall) {
    EventLogServer log;
    QTemporaryDir home;
    const QString script = home.path() + "/script.json";
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"([{"do":"init"},{"do":"page","page":"VC_Home","action":"Go_Help"},{"do":"wait","seconds":1.0}])");
    file.close();
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        environment.remove(name);
    environment.insert("HOME", home.path());
    environment.insert("TAMBERLO_EVENTLOG_URL", QString::fromStdString(log.server.origin()));
    for (int run = 0; run < 2; ++run) {
        QProcess driver;
        driver.setProcessEnvironment(environment);
        driver.start(TAMBERLO_TOOLS_DIR "/tamberlo-online", {script});
        ASSERT_TRUE(testsupport::runLoopUntil([&] { return driver.state() == QProcess::NotRunning; }, 60));
        EXPECT_EQ(driver.exitCode(), 0) << driver.readAllStandardError().toStdString();
    }
    std::map<std::string, std::set<std::string>> sessionsOfEvent;
    std::set<std::string> sessions, users;
    for (const auto& request : log.posts()) {
        const QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
        sessions.insert(record.value("sessionId").toString().toStdString());
        users.insert(record.value("userId").toString().toStdString());
        sessionsOfEvent[record.value("eventName").toString().toStdString()].insert(record.value("sessionId").toString().toStdString());
    }
    EXPECT_EQ(sessions.size(), 2u);
    EXPECT_EQ(users.size(), 1u);
    EXPECT_EQ(sessionsOfEvent["wm_launch_event"], sessions);
    EXPECT_EQ(sessionsOfEvent["button_click"], sessions);
}

TEST(EventLogUABuilder, IPv4TestTable) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"0.0.0.0", true},       {"255.255.255.255", true}, {"010.1.1.1", true},  {"192.168.1.20", true},
        {"256.1.1.1", false},    {"1.1.1.256", false},      {"1.1.1", false},     {"1.1.1.1.1", false},
        {"", false},             {" 1.1.1.1", false},       {"+1.1.1.1", false},  {"fd00::7", false},
        {"1.1.1.1\n", false},
    };
    for (const auto& [text, valid] : cases) EXPECT_EQ(UABuilder::isValidatIP(text), valid) << text;
}

TEST(EventLogUABuilder, AddressOfTheFirstKnownInterface) {
    onlinetest::FixedFacts facts;
    using Addresses = std::vector<platform::InterfaceAddress>;
    auto& current = platform::SystemFacts::current();
    const auto use = [&](std::optional<Addresses> addresses) {
        current.interfaceAddresses = [addresses] { return addresses; };
    };
    use(Addresses{{"en0", false, "192.168.1.20"}, {"eth0", false, "192.168.1.20"}});
    EXPECT_EQ(UABuilder::getIPAddress(true), "192.168.1.20");
    use(Addresses{{"utun0", true, "fd00::1"}, {"en0", false, "192.168.1.20"}, {"pdp_ip0", false, "10.9.9.9"}});
    EXPECT_EQ(UABuilder::getIPAddress(true), "192.168.1.20");
    EXPECT_EQ(UABuilder::getIPAddress(false), "192.168.1.20");
    use(Addresses{{"utun0", false, "10.8.0.2"}, {"en0", false, "192.168.1.20"}});
    EXPECT_EQ(UABuilder::getIPAddress(true), "10.8.0.2");
    use(Addresses{{"lo", false, "127.0.0.1"}});
    EXPECT_EQ(UABuilder::getIPAddress(true), "0.0.0.0");
    use(std::nullopt);
    EXPECT_EQ(UABuilder::getIPAddress(true), "0.0.0.0");
    EXPECT_EQ(UABuilder::getIPAddresses(), std::nullopt);
    // The system's own list: loopback is up, so the table is never empty here.
    platform::restoreSystemFacts();
    const auto table = UABuilder::getIPAddresses();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->at("lo/ipv4"), "127.0.0.1");
}

TEST(EventLogUABuilder, DeviceNames) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"x86_64", "Mac"},          {"i386", "Simulator"},         {"iPhone10,3", "iPhone X"},
        {"iPad6,7", "iPad Pro (12.9\")"}, {"iPad6,3", "iPad Pro (9.7\")"}, {"iPod9,1", "iPod Touch"},
        {"iPad99,1", "iPad"},       {"iPhone99,1", "iPhone"},      {"aarch64", "Unknown"},
        {"", "Unknown"},
    };
    for (const auto& [machine, name] : cases) EXPECT_EQ(UABuilder::deviceNameForMachine(machine), name) << machine;
    onlinetest::FixedFacts facts;
    EXPECT_EQ(UABuilder::getRealDeviceName(), "Mac");
}
