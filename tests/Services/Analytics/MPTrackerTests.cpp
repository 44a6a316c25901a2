// The measurement-protocol tracker against a loopback collector: routing, the screen state, the
// escaping of every value and the debug announcements.
#include "Services/Analytics/MPWebAnalyticsTracker.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeHttpServer.h"

#include <QByteArray>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace tamberlo;
using testsupport::FakeHttpServer;

namespace {

// name → value of a form body, decoded.
std::map<std::string, std::string> fieldsOf(const std::string& body) {
    std::map<std::string, std::string> fields;
    for (const QString& pair : QString::fromStdString(body).split('&')) {
        const qsizetype at = pair.indexOf('=');
        fields[pair.left(at).toStdString()] =
            QByteArray::fromPercentEncoding(pair.mid(at + 1).toUtf8()).toStdString();
    }
    return fields;
}

class MPTracker : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TAMBERLO_COLLECT_URL", server.origin().c_str(), 1);
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(MPWebAnalyticsTracker::showDebugMenuKey);
        MPAnalyticsConfiguration configuration("UA-1-1");
        configuration.duplicateEventsForCategory("dup", "UA-2-2");
        configuration.addEventsForCategory("add", "UA-3-3");
        configuration.duplicateEventsForCategory("both", "UA-2-2");
        configuration.addEventsForCategory("both", "UA-3-3");
        tracker.activateConfiguration(configuration);
    }
    void TearDown() override { ::unsetenv("TAMBERLO_COLLECT_URL"); }

    // The bodies posted to /collect once `count` have arrived (and a moment more for strays).
    std::vector<std::map<std::string, std::string>> posts(size_t count) {
        EXPECT_TRUE(server.waitForRequests("/collect", count));
        testsupport::runLoop(0.2);
        std::vector<std::map<std::string, std::string>> result;
        for (const auto& request : server.requests("/collect")) result.push_back(fieldsOf(request.body));
        return result;
    }

    FakeHttpServer server;
    MPWebAnalyticsTracker tracker;
};

}  // namespace

TEST_F(MPTracker, RoutesEventsByCategoryInOrderOneRequestAtATime) {
    tracker.trackEventOfCategory("dup", "a", std::nullopt, std::nullopt);
    tracker.trackEventOfCategory("add", "b", std::nullopt, std::nullopt);
    tracker.trackEventOfCategory("both", "c", std::nullopt, std::nullopt);
    tracker.trackEventOfCategory("other", "d", std::nullopt, std::nullopt);
    tracker.trackTimingOfCategory("dup", "v", KKGAValue(int64_t(5)), std::nullopt);  // never routed
    const auto sent = posts(6);
    ASSERT_EQ(sent.size(), 6u);
    const std::vector<std::pair<std::string, std::string>> wanted = {
        {"UA-1-1", "a"}, {"UA-2-2", "a"}, {"UA-3-3", "b"}, {"UA-3-3", "c"}, {"UA-1-1", "d"}, {"UA-1-1", ""}};
    for (size_t i = 0; i < wanted.size(); ++i) {
        EXPECT_EQ(sent[i].at("tid"), wanted[i].first) << i;
        EXPECT_EQ(sent[i].count("ea") ? sent[i].at("ea") : "", wanted[i].second) << i;
    }
    EXPECT_EQ(sent[5].at("t"), "timing");
    EXPECT_EQ(sent[5].at("utt"), "5");
    for (const auto& request : server.requests("/collect")) {
        EXPECT_FALSE(request.headers.at("user-agent").empty());
        EXPECT_EQ(request.headers.count("cookie"), 0u);
    }
}

TEST_F(MPTracker, NoConfigurationDropsEveryHit) {
    tracker.activateConfiguration(std::nullopt);
    tracker.trackEventOfCategory("x", "y", std::nullopt, std::nullopt);
    tracker.trackScreen("Home");
    testsupport::runLoop(0.5);
    EXPECT_TRUE(server.requests("/collect").empty());
}

TEST_F(MPTracker, ModalStackAndContentDescription) {
    tracker.trackEventOfCategory("e", "no screen", std::nullopt, std::nullopt);  // no cd at all
    tracker.trackScreen("Home");                                                   // appview cd=Home
    tracker.trackEventOfCategory("e", "on home", std::nullopt, std::nullopt);      // cd=Home
    tracker.trackModalScreen("Export");                                            // appview cd=Export
    tracker.trackModalScreen("Export");                                            // already there: nothing
    tracker.trackEventOfCategory("e", "in export", std::nullopt, std::nullopt, "Own");  // its own cd
    tracker.switchToModalScreen("Format");                                         // nothing sent
    tracker.trackEventOfCategory("e", "in format", std::nullopt, std::nullopt);    // cd=Format
    tracker.stopTrackingModalScreen();                                             // last one: appview cd=Home
    tracker.stopTrackingModalScreen();                                             // empty: nothing
    EXPECT_TRUE(tracker.modalScreens().empty());
    const auto sent = posts(7);
    ASSERT_EQ(sent.size(), 7u);
    const std::vector<std::pair<std::string, std::string>> wanted = {
        {"event", ""},      {"appview", "Home"}, {"event", "Home"},   {"appview", "Export"},
        {"event", "Own"},   {"event", "Format"}, {"appview", "Home"}};
    for (size_t i = 0; i < wanted.size(); ++i) {
        EXPECT_EQ(sent[i].at("t"), wanted[i].first) << i;
        EXPECT_EQ(sent[i].count("cd") ? sent[i].at("cd") : "", wanted[i].second) << i;
    }
}

TEST_F(MPTracker, EveryValueIsEscapedAndMissingOnesAreAbsent) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a b&c+d=e%f", "a%20b%26c%2Bd%3De%25f"},
        {"#[]!*'();:@$,/?", "%23%5B%5D%21%2A%27%28%29%3B%3A%40%24%2C%2F%3F"},
        {"满意", "%E6%BB%A1%E6%84%8F"},
        {"Az09-_.~", "Az09-_.~"},
    };
    for (const auto& [text, escaped] : cases) EXPECT_EQ(MPWebAnalyticsTracker::escaped(text), escaped) << text;

    const std::string body = tracker.requestStringForDictionary(
        MPParamBuilder::eventParamsForCategory("c", "a b&c+d=e%f", std::nullopt, std::nullopt).dictionaryRepresentation(),
        "UA-1&x");
    const std::string cid = QByteArray::fromStdString(tracker.userIdentifier()).toPercentEncoding().toStdString();
    EXPECT_EQ(body, "v=1&tid=UA-1%26x&an=Tamberlo&av=1&cid=" + cid + "&ea=a%20b%26c%2Bd%3De%25f&ec=c&t=event");
    EXPECT_EQ(body.find("10.13"), std::string::npos);
    EXPECT_NE(tracker.systemInfo().find("10.13及以上版本 "), std::string::npos);
    const QByteArray identity = QByteArray::fromBase64(QByteArray::fromStdString(tracker.userIdentifier()),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    EXPECT_TRUE(identity.endsWith(QByteArray::fromStdString(TrackerHelper::loginName())));
}

TEST(MPTrackerHelper, SystemVersionLabels) {
    const std::vector<std::pair<double, std::string>> table = {
        {1000.0, "10.10.0"},   {1343.0, "10.10.0"},  {1343.5, "10.10.2"},  {1349.0, "10.10.max"},
        {1404.13, "10.11.1"},  {1404.2, "10.11.2"},  {1504.76, "10.12.2"}, {1504.77, "10.13及以上版本"},
    };
    for (const auto& [number, label] : table) EXPECT_EQ(TrackerHelper::systemVersionLabel(number), label) << number;
    EXPECT_EQ(TrackerHelper::systemVersion(), "10.13及以上版本");
}

TEST_F(MPTracker, DebugSwitchAnnouncesEventHitsOncePerTargetWithTheirProperty) {
    std::vector<platform::Notification> heard;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto token = center.addObserver("AnalyticsEvent", [&](const platform::Notification& n) { heard.push_back(n); });
    tracker.trackEventOfCategory("dup", "quiet", std::nullopt, std::nullopt);  // switch off: nothing
    platform::UserDefaults::standardUserDefaults().setBool(true, MPWebAnalyticsTracker::showDebugMenuKey);
    tracker.resetForTesting();
    tracker.activateConfiguration(MPAnalyticsConfiguration("UA-1-1"));
    auto configuration = *tracker.activeConfiguration();
    configuration.duplicateEventsForCategory("dup", "UA-2-2");
    tracker.activateConfiguration(configuration);
    tracker.trackEventOfCategory("dup", "loud", "l", KKGAValue(int64_t(3)));
    tracker.trackTimingOfCategory("dup", "v", KKGAValue(int64_t(5)), std::nullopt);
    tracker.trackScreen("Home");
    center.removeObserver(token);
    platform::UserDefaults::standardUserDefaults().removeObjectForKey(MPWebAnalyticsTracker::showDebugMenuKey);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(std::get<std::string>(heard[0].userInfo.at("gaid")), "UA-1-1");
    EXPECT_EQ(std::get<std::string>(heard[1].userInfo.at("gaid")), "UA-2-2");
    EXPECT_EQ(std::get<std::string>(heard[0].userInfo.at("ea")), "loud");
    EXPECT_EQ(std::get<int64_t>(heard[0].userInfo.at("ev")), 3);
    EXPECT_EQ(heard[0].object, &tracker);
    posts(6);
}

// A collector that does not answer: the waiting posts stop at their bound, the oldest going first,
// and the drops are counted in the log, not logged one by one.
TEST_F(MPTracker, WaitingPostsAreBoundedOldestFirst) {
    server.script("/collect", {}, FakeHttpServer::Reply::of(FakeHttpServer::Reply::Kind::hang));
    platform::LogSink::clear();
    const std::size_t extra = 25;
    for (std::size_t i = 0; i < MPWebAnalyticsTracker::maximumWaitingPosts + 1 + extra; ++i)
        tracker.trackEventOfCategory("other", std::to_string(i), std::nullopt, std::nullopt);
    EXPECT_EQ(tracker.waitingPosts(), MPWebAnalyticsTracker::maximumWaitingPosts);
    std::vector<std::string> reports;
    for (const auto& entry : platform::LogSink::entries())
        if (entry.message.find("waiting analytics posts dropped") != std::string::npos) reports.push_back(entry.message);
    ASSERT_EQ(reports.size(), 2u);  // at 1 and at 10 of the 25
    EXPECT_EQ(reports[0].rfind("1 ", 0), 0u);
    EXPECT_EQ(reports[1].rfind("10 ", 0), 0u);
}
