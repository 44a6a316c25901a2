// The web-analytics client: hits, their encoding, the stored queue and its batches.
#include "Services/Analytics/AnalyticsStore.h"
#include "Services/Analytics/KKGAFields.h"
#include "Services/Analytics/KKGADictionaryBuilder.h"
#include "Services/Analytics/KKGASystemInfo.h"
#include "Services/Analytics/KKWebAnalytics.h"
#include "Services/Analytics/RKTracker.h"
#include "Services/Analytics/support/OnlineFixtures.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

using namespace tamberlo;
using testsupport::FakeHttpServer;
using Kind = FakeHttpServer::Reply::Kind;

TEST(AnalyticsBuilder, EachFactoryFillsItsParametersAndAnnouncesTheHitOnce) {
    using B = KKGADictionaryBuilder;
    const std::string s = "s";
    struct Case {
        std::function<std::unique_ptr<B>()> make;
        KKGAHit expected;
    };
    const std::vector<Case> cases{
        {[] { return B::createScreenView(std::string("Home")); },
         {{"t", std::string("appview")}, {"an", std::string("Tamberlo")}, {"av", std::string("1")}, {"cd", std::string("Home")}}},
        {[] { return B::createPageViewWithName(std::string("T"), std::string("h.example"), std::string("/p")); },
         {{"t", std::string("pageview")}, {"dt", std::string("T")}, {"dh", std::string("h.example")}, {"dp", std::string("/p")}}},
        {[] { return B::createEventWithCategory(std::string("c"), std::string("a"), std::nullopt, std::nullopt); },
         {{"t", std::string("event")}, {"ec", std::string("c")}, {"ea", std::string("a")}}},
        {[] { return B::createEventWithCategory(std::string("c"), std::string("a"), std::string("l"), int64_t(1)); },
         {{"t", std::string("event")}, {"ec", std::string("c")}, {"ea", std::string("a")}, {"el", std::string("l")}, {"ev", int64_t(1)}}},
        {[] { return B::createTransaction(std::string("T1"), std::string("shop"), 9.5, 1.0, 0.5, std::nullopt); },
         {{"t", std::string("transaction")}, {"ti", std::string("T1")}, {"ta", std::string("shop")}, {"tr", 9.5}, {"ts", 1.0}, {"tt", 0.5}}},
        {[] { return B::createItem(std::string("T1"), std::string("n"), std::string("SKU"), std::string("cat"), 2.5, int64_t(3), std::string("CNY")); },
         {{"t", std::string("item")}, {"ti", std::string("T1")}, {"in", std::string("n")}, {"ic", std::string("SKU")},
          {"iv", std::string("cat")}, {"ip", 2.5}, {"iq", int64_t(3)}, {"cu", std::string("CNY")}}},
        {[] { return B::createSocialWithNetwork(std::string("net"), std::string("like"), std::string("x")); },
         {{"t", std::string("social")}, {"sn", std::string("net")}, {"sa", std::string("like")}, {"st", std::string("x")}}},
        {[] { return B::createTimingWithCategory(std::string("c"), int64_t(1500), std::string("load"), std::string("l")); },
         {{"t", std::string("timing")}, {"utc", std::string("c")}, {"utt", int64_t(1500)}, {"utv", std::string("load")}, {"utl", std::string("l")}}},
        {[] { return B::createExceptionWithDescription(std::string("boom"), int64_t(1)); },
         {{"t", std::string("exception")}, {"exd", std::string("boom")}, {"exf", int64_t(1)}}},
    };
    std::vector<platform::Notification> posted;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto token = center.addObserver(B::analyticsEventNotification,
                                          [&](const platform::Notification& n) { posted.push_back(n); });
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto builder = cases[i].make();
        EXPECT_EQ(builder->build(), cases[i].expected) << i;
        ASSERT_EQ(posted.size(), i + 1);
        EXPECT_EQ(posted.back().userInfo, cases[i].expected) << i;
        EXPECT_EQ(posted.back().object, builder.get());
    }
    center.removeObserver(token);

    KKGADictionaryBuilder builder;
    builder.set(std::string("x"), "ec");
    builder.set(std::nullopt, "ec");
    EXPECT_EQ(builder.get("ec"), std::nullopt);
    EXPECT_EQ(KKGAFields::customDimensionForIndex(0), "cd0");
    EXPECT_EQ(KKGAFields::customMetricForIndex(18446744073709551615ull), "cm18446744073709551615");
}

TEST(AnalyticsForm, OneHitIsOneLineOfEscapedPairs) {
    const std::vector<std::pair<KKGAValue, std::string>> values{
        {std::string("a b&c+d=e%f"), "a%20b%26c%2Bd=e%25f"},
        {std::string("two\nlines"), "two%0Alines"},
        {std::string("按钮点击"), "%E6%8C%89%E9%92%AE%E7%82%B9%E5%87%BB"},
        {std::string("-_.!~*'();/?:@=$,"), "-_.!~*'();/?:@=$,"},
        {std::string("#[]\"<>\\"), "%23%5B%5D%22%3C%3E%5C"},
        {int64_t(1), "1"},
        {2.5, "2.5"},
    };
    for (const auto& [value, text] : values)
        EXPECT_EQ(KKWebAnalytics::stringAsWWWURLEncodedFormFromDictionary({{"k", value}}), "k=" + text) << text;
    EXPECT_EQ(KKWebAnalytics::stringAsWWWURLEncodedFormFromDictionary({{"a", int64_t(1)}, {"b c", std::string("2")}}),
              "a=1&b%20c=2");
}

TEST(AnalyticsSystemInfo, UserAgentAndScreenTexts) {
    onlinetest::FixedFacts facts;
    EXPECT_EQ(buildKKGAUserAgentString(), "Pinemoth/1 (Macintosh; Intel Mac OS X 12_0_0; Just an Apple Computer)");
    auto& current = platform::SystemFacts::current();
    current.osRelease = [] { return std::map<std::string, std::string>{{"VERSION_ID", "22.04"}}; };
    current.productName = [] { return std::string("ThinkPad X1"); };
    EXPECT_EQ(buildKKGAUserAgentString(), "Pinemoth/1 (Macintosh; Intel Mac OS X 22_4_0; ThinkPad X1)");
    current.osRelease = [] { return std::map<std::string, std::string>{}; };
    platform::Bundle::main().setInfoDictionaryForTesting({{"CFBundleName", "Tamberlo"}});
    EXPECT_EQ(buildKKGAUserAgentString(), "Pinemoth/(null) (Macintosh; Intel Mac OS X 0_0_0; ThinkPad X1)");
    EXPECT_EQ(KKGASystemInfo::appName(), "Tamberlo");
    platform::Bundle::main().restoreInfoDictionary();
    // Built once per process.
    EXPECT_EQ(KKGAUserAgentString(), KKGAUserAgentString());

    const std::vector<std::pair<std::optional<std::string>, std::string>> cpus{
        {"x86_64", "Intel"}, {"i686", "Intel"}, {"ppc64le", "PowerPC"}, {"aarch64", "Unknown"}, {std::nullopt, "an Unknown Processor"}};
    for (const auto& [machine, type] : cpus) {
        current.machine = [machine] { return machine; };
        EXPECT_EQ(KKGASystemInfo::CPUType(), type);
    }
    const std::vector<std::pair<int, std::optional<std::string>>> depths{
        {24, "24-bits"}, {32, "24-bits"}, {48, "64-bits"}, {64, "64-bits"}, {96, "128-bits"}, {128, "128-bits"}, {16, std::nullopt}};
    for (const auto& [depth, text] : depths) {
        current.mainScreen = [depth] { return std::optional<platform::ScreenFacts>({1440, 900, depth}); };
        EXPECT_EQ(KKGASystemInfo::screenDepthString(), text) << depth;
        EXPECT_EQ(KKGASystemInfo::screenResolutionString(), "1440x900");
    }
    // No GUI application in this test binary: no screen.
    platform::restoreSystemFacts();
    EXPECT_EQ(KKGASystemInfo::screenResolutionString(), "0x0");
    EXPECT_EQ(KKGASystemInfo::screenDepthString(), std::nullopt);
}

namespace {

struct CollectServer {
    FakeHttpServer server;
    CollectServer() {
        ::setenv("TAMBERLO_COLLECT_URL", server.origin().c_str(), 1);
        KKWebAnalytics::sharedInstance().setTrackingID("UA-12345-1");
    }
    ~CollectServer() { ::unsetenv("TAMBERLO_COLLECT_URL"); }
};

std::vector<std::string> storedLines() {
    std::vector<std::string> lines;
    for (const auto& [row, text] : AnalyticsStore::shared().records()) lines.push_back(text);
    return lines;
}

void sendEvent(const std::string& action) {
    KKWebAnalytics::sharedInstance().send(
        KKGADictionaryBuilder::createEventWithCategory(std::string("按钮点击"), action, std::string("VC_Home"), std::nullopt)->build());
}

}  // namespace

TEST(AnalyticsQueue, HitsAreCompletedAndStoredBeforeSendReturns) {
    CollectServer collect;
    auto& client = KKWebAnalytics::sharedInstance();
    EXPECT_FALSE(client.dispatch());  // an empty queue sends nothing
    client.send({{"t", std::string("event")}, {"v", int64_t(7)}, {"tid", std::string("other")}, {"ul", std::string("xx")},
                 {"ea", std::string("a b")}});
    const auto lines = storedLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string clientID = client.clientID();
    EXPECT_EQ(clientID.size(), 36u);
    EXPECT_EQ(lines[0], "cid=" + clientID + "&ea=a%20b&sr=0x0&t=event&tid=UA-12345-1&ul=en&v=1");
    EXPECT_EQ(platform::UserDefaults::standardUserDefaults().stringForKey(KKWebAnalytics::clientIDKey), clientID);

    // From another thread: stored in the main loop's next turn.
    std::thread([] { sendEvent("Action_Add"); }).join();
    EXPECT_TRUE(testsupport::runLoopUntil([] { return storedLines().size() == 2; }));
}

TEST(AnalyticsQueue, WhatABatchReplyDoesWithTheRowsItCarried) {
    CollectServer collect;
    auto& client = KKWebAnalytics::sharedInstance();
    struct Case {
        FakeHttpServer::Reply reply;
        bool rowsKept;
    };
    const std::vector<Case> cases{
        {FakeHttpServer::Reply::status(200), false},       {FakeHttpServer::Reply::status(204, "", ""), false},
        {FakeHttpServer::Reply::status(500), true},        {FakeHttpServer::Reply::status(503), true},
        {FakeHttpServer::Reply::status(408), true},        {FakeHttpServer::Reply::status(429), true},
        {FakeHttpServer::Reply::of(Kind::reset), true},    {FakeHttpServer::Reply::status(404), false},
        {FakeHttpServer::Reply::status(400), false},       {FakeHttpServer::Reply::status(301), false},
        {FakeHttpServer::Reply::status(302), false},
    };
    platform::LogSink::clear();
    for (size_t i = 0; i < cases.size(); ++i) {
        AnalyticsStore::shared().deleteRecords([] {
            std::vector<int64_t> all;
            for (const auto& [row, text] : AnalyticsStore::shared().records()) all.push_back(row);
            return all;
        }(), AnalyticsStore::shared().epoch());
        // Every request gets the reply: the network layer may retry a request whose connection was reset.
        collect.server.script("/batch", {}, cases[i].reply);
        sendEvent("first");
        sendEvent("second");
        ASSERT_TRUE(client.dispatch()) << i;
        EXPECT_FALSE(client.dispatch()) << i;  // one batch at a time
        sendEvent("while in flight");          // not carried, so never deleted by this reply
        ASSERT_TRUE(testsupport::runLoopUntil([&] { return !client.isBatchInFlight(); })) << i;
        const auto batch = collect.server.requests("/batch").back();
        const auto lines = storedLines();
        EXPECT_EQ(lines.size(), cases[i].rowsKept ? 3u : 1u) << i;
        EXPECT_NE(lines.back().find("while%20in%20flight"), std::string::npos) << i;
        // Every line of the body ends with a line feed, in the order the hits were sent.
        EXPECT_EQ(std::count(batch.body.begin(), batch.body.end(), '\n'), 2) << i;
        EXPECT_EQ(batch.body.back(), '\n');
        EXPECT_LT(batch.body.find("ea=first"), batch.body.find("ea=second"));
        EXPECT_EQ(batch.headers.at("user-agent"), KKGAUserAgentString());
    }
    // A redirect is never followed: its batch goes, said once with its status.
    for (const char* status : {"301", "302"}) {
        const auto entries = platform::LogSink::entries();
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                [&](const auto& e) { return e.message.find(std::string("redirected with ") + status) != std::string::npos; }),
                  1)
            << status;
    }
}

// Going out at start is checked from the shell (tools/online-scenarios.sh, the third scenario).
TEST(AnalyticsQueue, TheQueueGoesOutOnTheTimer) {
    CollectServer collect;
    sendEvent("waiting");
    auto& client = KKWebAnalytics::sharedInstance();
    client.setDispatchInterval(0.3);
    ASSERT_TRUE(collect.server.waitForRequests("/batch", 1));
    ASSERT_TRUE(testsupport::runLoopUntil([] { return storedLines().empty(); }));
    sendEvent("later");
    ASSERT_TRUE(collect.server.waitForRequests("/batch", 2));
    client.pauseDispatching();
    EXPECT_NE(collect.server.requests("/batch")[1].body.find("ea=later"), std::string::npos);
}

TEST(AnalyticsQueue, TheMainLoopKeepsItsPaceWhileTheServersStall) {
    FakeHttpServer server;
    server.script("/batch", {}, FakeHttpServer::Reply::of(Kind::hang));
    server.script("/api/log/receive", {}, FakeHttpServer::Reply::of(Kind::trickle));
    ::setenv("TAMBERLO_COLLECT_URL", server.origin().c_str(), 1);
    ::setenv("TAMBERLO_EVENTLOG_URL", server.origin().c_str(), 1);
    sendEvent("a");
    ASSERT_TRUE(KKWebAnalytics::sharedInstance().dispatch());
    RKTracker::TrackEvent("button_click", QJsonObject{{"page_name", "p"}});
    RKTracker::TrackImportantEvent("np_callback_event", QJsonObject{{"active_time", 1}});

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, widest = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        widest = std::max(widest, now - last);
        last = now;
    });
    heartbeat.start(10);
    testsupport::runLoop(3.0);
    // The loop keeps its pace at least until every request has reached the stalling servers, which
    // a loaded machine may take longer than the three seconds to send.
    EXPECT_TRUE(testsupport::runLoopUntil([&] {
        return server.requests("/batch").size() >= 1 && server.requests("/api/log/receive").size() >= 2;
    }));
    heartbeat.stop();
    EXPECT_GE(server.requests("/batch").size(), 1u);
    EXPECT_GE(server.requests("/api/log/receive").size(), 2u);
    EXPECT_LT(widest, 500);
    ::unsetenv("TAMBERLO_COLLECT_URL");
    ::unsetenv("TAMBERLO_EVENTLOG_URL");
}

namespace {
struct PresentedErrors {
    std::vector<platform::NSError> errors;
    PresentedErrors() {
        AnalyticsStore::shared().resetForTesting();
        AnalyticsStore::shared().setErrorPresenter([this](const platform::NSError& e) { errors.push_back(e); });
    }
    ~PresentedErrors() {
        AnalyticsStore::shared().setErrorPresenter(nullptr);
        AnalyticsStore::shared().resetForTesting();
    }
};
}  // namespace

TEST(AnalyticsStoreErrors, AFileWhereTheFolderGoesIsPresentedOnceAndNoHitIsLost) {
    const QString folder = QString::fromStdString(KKWebAnalytics::applicationFilesDirectory());
    QDir().mkpath(QFileInfo(folder).path());
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    PresentedErrors presented;
    sendEvent("one");
    sendEvent("two");
    ASSERT_EQ(presented.errors.size(), 1u);
    EXPECT_EQ(presented.errors[0].domain, KKWebAnalyticsErrorDomain);
    EXPECT_EQ(presented.errors[0].code, 101);
    EXPECT_EQ(presented.errors[0].localizedDescription,
              "Expected a folder to store application data, found a file (" + folder.toStdString() + ").");
    EXPECT_FALSE(AnalyticsStore::shared().isOnDisk());
    EXPECT_EQ(storedLines().size(), 2u);  // kept in memory meanwhile

    // Once the folder can be made, the waiting hits move into the file, silently.
    QFile::remove(folder);
    sendEvent("three");
    EXPECT_TRUE(AnalyticsStore::shared().isOnDisk());
    EXPECT_EQ(storedLines().size(), 3u);
    EXPECT_EQ(presented.errors.size(), 1u);
}

TEST(AnalyticsStoreErrors, AStoreThatIsNotADatabaseIsMovedAsideAndReplaced) {
    const QString folder = QString::fromStdString(KKWebAnalytics::applicationFilesDirectory());
    QDir().mkpath(folder);
    const QString path = QString::fromStdString(AnalyticsStore::storePath());
    QFile::remove(path);
    QFile junk(path);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'j'));
    junk.close();
    PresentedErrors presented;
    sendEvent("one");
    EXPECT_EQ(presented.errors.size(), 1u);
    EXPECT_TRUE(AnalyticsStore::shared().isOnDisk());
    EXPECT_EQ(storedLines().size(), 1u);
    const QStringList aside = QDir(folder).entryList({"WebAnalytics.storedata.corrupt-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(folder + "/" + aside[0]);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray(4096, 'j'));
}

TEST(AnalyticsStoreErrors, AFolderThatCannotBeWrittenKeepsTheHitsInMemoryAndStillSendsThem) {
    // /proc refuses new folders even to root: the store can never be built there.
    const std::string data = std::getenv("XDG_DATA_HOME");
    ::setenv("XDG_DATA_HOME", "/proc/tamberlo-no-such-folder", 1);
    PresentedErrors presented;
    CollectServer collect;
    sendEvent("one");
    sendEvent("two");
    EXPECT_EQ(presented.errors.size(), 1u);
    EXPECT_FALSE(AnalyticsStore::shared().isOnDisk());
    auto& client = KKWebAnalytics::sharedInstance();
    ASSERT_TRUE(client.dispatch());
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return !client.isBatchInFlight(); }));
    const auto batches = collect.server.requests("/batch");
    ASSERT_FALSE(batches.empty());
    EXPECT_EQ(std::count(batches.back().body.begin(), batches.back().body.end(), '\n'), 2);
    EXPECT_TRUE(storedLines().empty());
    EXPECT_EQ(presented.errors.size(), 1u);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
}

TEST(AnalyticsStoreErrors, ADamagedStoreIsMovedAsideAndReplaced) {
    const QString folder = QString::fromStdString(KKWebAnalytics::applicationFilesDirectory());
    const QString path = QString::fromStdString(AnalyticsStore::storePath());
    {
        PresentedErrors fresh;
        for (int i = 0; i < 400; ++i) sendEvent("filler " + std::to_string(i) + std::string(200, 'f'));
    }  // closed: everything is in the file itself
    for (const QString& aside : QDir(folder).entryList({"WebAnalytics.storedata.corrupt-*"})) QFile::remove(folder + "/" + aside);
    ASSERT_GT(QFileInfo(path).size(), 64 * 1024);
    ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() / 2));  // cut short, as by a full disk or a crash
    PresentedErrors presented;
    sendEvent("after");
    EXPECT_TRUE(AnalyticsStore::shared().isOnDisk());
    EXPECT_EQ(storedLines().size(), 1u);
    ASSERT_EQ(presented.errors.size(), 1u);
    EXPECT_NE(presented.errors[0].localizedDescription.find("moved to"), std::string::npos);
    EXPECT_EQ(QDir(folder).entryList({"WebAnalytics.storedata.corrupt-*"}).size(), 1);
}

// A store file that stops taking writes: every hit the collector accepted goes out once, new hits
// still go out, and the error is shown once. Root writes through 0444 and most file modes, so the
// file is opened read-only instead.
TEST(AnalyticsStoreErrors, AStoreThatTakesNoWritesPostsEachAcceptedHitOnce) {
    auto& store = AnalyticsStore::shared();
    auto& client = KKWebAnalytics::sharedInstance();
    CollectServer collect;
    collect.server.script("/batch", {}, FakeHttpServer::Reply::status(200));
    const auto postAndCount = [&](const std::string& hit) {
        const std::size_t before = collect.server.requests("/batch").size();
        if (!client.dispatch()) return std::string();
        EXPECT_TRUE(testsupport::runLoopUntil([&] { return !client.isBatchInFlight(); }));
        const auto batches = collect.server.requests("/batch");
        EXPECT_EQ(batches.size(), before + 1);
        EXPECT_NE(batches.back().body.find(hit), std::string::npos) << hit;
        return batches.back().body;
    };
    // The first write that fails: the insert of a new hit, or the delete after a batch's reply.
    for (const bool insertFails : {true, false}) {
        SCOPED_TRACE(insertFails ? "insert" : "delete");
        store.setReadOnlyForTesting(false);
        store.resetForTesting();
        for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(QString::fromStdString(AnalyticsStore::storePath()) + suffix);
        PresentedErrors presented;
        sendEvent("stored");
        ASSERT_TRUE(store.isOnDisk());
        store.setReadOnlyForTesting(true);
        if (insertFails) {
            sendEvent("new");
            const std::string body = postAndCount("ea=stored");
            EXPECT_NE(body.find("ea=new"), std::string::npos);
        } else {
            postAndCount("ea=stored");
            sendEvent("new");
            EXPECT_EQ(postAndCount("ea=new").find("ea=stored"), std::string::npos);
        }
        EXPECT_FALSE(store.isOnDisk());
        EXPECT_TRUE(storedLines().empty());
        EXPECT_FALSE(client.dispatch());  // nothing goes out twice
        EXPECT_EQ(presented.errors.size(), 1u);

        // At the next start the file still takes no writes: it is not used, its rows are not sent.
        store.resetForTesting();
        sendEvent("next start");
        EXPECT_FALSE(store.isOnDisk());
        EXPECT_EQ(postAndCount("ea=next%20start").find("ea=stored"), std::string::npos);
        EXPECT_FALSE(client.dispatch());
        EXPECT_EQ(presented.errors.size(), 2u);
    }
    store.setReadOnlyForTesting(false);
}
