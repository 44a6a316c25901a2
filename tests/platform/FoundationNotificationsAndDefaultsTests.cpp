// The default notification centre and the user defaults.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "main/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace platform;

TEST(NotificationCenter, DeliversByNameInOrderAndStopsAfterRemoval) {
    NotificationCenter center;
    std::vector<std::string> seen;
    const auto a = center.addObserver("One", [&](const Notification& n) { seen.push_back("a:" + n.name); });
    const auto all = center.addObserver("", [&](const Notification& n) { seen.push_back("all:" + n.name); });
    NotificationCenter::ObserverToken selfRemoving = 0;
    selfRemoving = center.addObserver("One", [&](const Notification&) {
        seen.push_back("once");
        center.removeObserver(selfRemoving);
    });
    center.post("One");
    center.post("Two");
    center.removeObserver(a);
    center.post("One");
    center.removeObserver(all);
    EXPECT_EQ(seen, (std::vector<std::string>{"a:One", "all:One", "once", "all:Two", "all:One"}));
}

TEST(NotificationCenter, PostsFromOtherThreadsArriveOnTheMainThread) {
    NotificationCenter center;
    std::atomic<int> received{0};
    std::atomic<bool> onMain{true};
    const int value = 7;
    center.addObserver("Tick", [&](const Notification& n) {
        if (!DispatchQueue::main().isCurrent()) onMain = false;
        EXPECT_EQ(n.object, &value);
        ++received;
    });
    std::thread worker([&] { center.post("Tick", &value); });
    worker.join();
    EXPECT_EQ(received.load(), 0);  // queued for the main thread
    for (int i = 0; i < 200 && received == 0; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(received.load(), 1);
    EXPECT_TRUE(onMain.load());
}

TEST(UserDefaults, ValuesSurviveReopeningTheFile) {
    testsupport::ScratchDir dir;
    const std::string path = (dir / "prefs" / "defaults.ini").string();
    {
        UserDefaults defaults(path);
        EXPECT_FALSE(defaults.stringForKey("App.lastTrackId").has_value());
        EXPECT_FALSE(defaults.boolForKey("ShowDebugMenu"));
        EXPECT_EQ(defaults.integerForKey("missing"), 0);
        defaults.setString("ABC-123", "App.lastTrackId");
        defaults.setBool(true, "ShowDebugMenu");
        defaults.setInteger(42, "app.count");
        defaults.setDouble(0.25, "app.ratio");
        defaults.setString("gone", "app.temp");
        defaults.removeObjectForKey("app.temp");
        EXPECT_TRUE(defaults.synchronize());
    }
    UserDefaults reopened(path);
    EXPECT_EQ(reopened.stringForKey("App.lastTrackId"), "ABC-123");
    EXPECT_TRUE(reopened.boolForKey("ShowDebugMenu"));
    EXPECT_EQ(reopened.integerForKey("app.count"), 42);
    EXPECT_EQ(reopened.doubleForKey("app.ratio"), 0.25);
    EXPECT_FALSE(reopened.hasKey("app.temp"));
}

TEST(UserDefaults, StandardDefaultsLiveUnderTheConfigFolder) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(UserDefaults::standardUserDefaults().path(), std::string(config) + "/Tamberlo/Tamberlo.ini");
}
