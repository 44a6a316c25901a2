// The analytics debug windows list the hits of both analytics clients, newest first, and exist
// only with "ShowDebugMenu" on.
#include "Services/Analytics/KKGADictionaryBuilder.h"
#include "Services/Analytics/MPWebAnalyticsTracker.h"
#include "Services/AnalyticsWindows/AnalyticsDebugWindowController.h"
#include "platform/foundation/UserDefaults.h"
#include "support/FakeHttpServer.h"

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace tamberlo;

namespace {
class DebugWindow : public ::testing::Test {
protected:
    void TearDown() override {
        TBAnalyticsDebugWindowController::release();
        MPAnalyticsDebugWindowController::release();
        defaults.removeObjectForKey("ShowDebugMenu");
    }
    platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults();
};

std::string text(const KKGAHit& hit, const std::string& key) {
    const auto found = hit.find(key);
    return found == hit.end() ? "" : textOf(found->second);
}
}  // namespace

TEST_F(DebugWindow, SwitchOffMeansNoControllerForTheWholeProcess) {
    defaults.removeObjectForKey("ShowDebugMenu");
    EXPECT_EQ(TBAnalyticsDebugWindowController::sharedController(), nullptr);
    EXPECT_EQ(MPAnalyticsDebugWindowController::sharedController(), nullptr);
    const auto before = QApplication::topLevelWidgets().size();
    TBAnalyticsDebugWindowController::showWindow();
    MPAnalyticsDebugWindowController::showWindow();
    EXPECT_EQ(QApplication::topLevelWidgets().size(), before);
    // Read once: turning the switch on later changes nothing.
    defaults.setBool(true, "ShowDebugMenu");
    EXPECT_EQ(TBAnalyticsDebugWindowController::sharedController(), nullptr);
}

TEST_F(DebugWindow, BothWindowsListEveryHitNewestFirst) {
    testsupport::FakeHttpServer server;
    ::setenv("TAMBERLO_COLLECT_URL", server.origin().c_str(), 1);
    defaults.setBool(true, "ShowDebugMenu");
    auto* tb = TBAnalyticsDebugWindowController::sharedController();
    auto* mp = MPAnalyticsDebugWindowController::sharedController();
    ASSERT_NE(tb, nullptr);
    ASSERT_NE(mp, nullptr);
    EXPECT_EQ(TBAnalyticsDebugWindowController::sharedController(), tb);
    EXPECT_FALSE(tb->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(mp->windowFlags() & Qt::WindowStaysOnTopHint);

    KKGADictionaryBuilder::createEventWithCategory(KKGAValue(std::string("按钮点击")), KKGAValue(std::string("Action_Add")),
                                                   KKGAValue(std::string("VC_Home")), std::nullopt);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return tb->eventsArray().size() == 1 && mp->eventsArray().size() == 1; }));
    for (auto* window : {static_cast<AnalyticsDebugWindowController*>(tb), static_cast<AnalyticsDebugWindowController*>(mp)})
        EXPECT_EQ(text(window->eventsArray()[0], "ea"), "Action_Add");

    MPWebAnalyticsTracker tracker;
    tracker.activateConfiguration(MPAnalyticsConfiguration("UA-1-1"));
    tracker.trackEventOfCategory("导出", "mp", std::nullopt, std::nullopt);
    ASSERT_TRUE(testsupport::runLoopUntil([&] { return tb->eventsArray().size() == 2 && mp->eventsArray().size() == 2; }));
    for (auto* window : {static_cast<AnalyticsDebugWindowController*>(tb), static_cast<AnalyticsDebugWindowController*>(mp)}) {
        EXPECT_EQ(text(window->eventsArray()[0], "ea"), "mp");
        EXPECT_EQ(text(window->eventsArray()[0], "gaid"), "UA-1-1");
        EXPECT_EQ(text(window->eventsArray()[1], "ea"), "Action_Add");
        EXPECT_EQ(window->eventsArrayController()->rowCount(), 2);
        EXPECT_TRUE(window->eventsArrayController()->index(0).data().toString().contains("gaid=UA-1-1"));
    }
    MPAnalyticsDebugWindowController::showWindow();
    EXPECT_TRUE(mp->isVisible());
    const QString dir = TAMBERLO_SCREENSHOT_DIR;
    QDir().mkpath(dir);
    EXPECT_TRUE(mp->grab().save(dir + "/analytics-debug.png"));
    ASSERT_TRUE(server.waitForRequests("/collect", 1));
    ::unsetenv("TAMBERLO_COLLECT_URL");
}
