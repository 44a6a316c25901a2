// The usage events the editor sends, kept in memory.
#include "Services/Analytics/TrackManager.h"
#include "Services/Feedback/FeedbackVC.h"
#include "platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>

using namespace tamberlo;

namespace {
std::string requestIdOf(const TrackEvent& event) { return event.params.at("requestId"); }
}  // namespace

TEST(TrackManager, NothingIsKeptBeforeTheEventLogIsSwitchedOn) {
    auto& manager = TrackManager::shareInstance();
    manager.reset();
    TrackManager::TrackLaunch();
    TrackManager::TrackPage("VC_Home", "Action_Add");
    EXPECT_TRUE(manager.events().empty());
    EXPECT_TRUE(manager.webEvents().empty());
}

TEST(TrackManager, LaunchAndPageEvents) {
    auto& manager = TrackManager::shareInstance();
    manager.reset();
    TrackManager::initialWithLaunchOptions({});
    TrackManager::TrackLaunch();
    TrackManager::TrackPage("VC_Home", "Go_Help");
    TrackManager::TrackPage("", "Go_Help");
    TrackManager::TrackPage("VC_Home", "");
    TrackManager::TrackEventWithName("custom", {}, true);
    TrackManager::TrackEventWithName("", {{"a", "b"}}, true);

    const auto events = manager.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "launch");
    const std::string launchTime = events[0].params.at("launch_time");
    EXPECT_GE(launchTime.size(), 13u);
    EXPECT_EQ(launchTime.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(events[1].name, "button_click");
    EXPECT_EQ(events[1].params, (std::map<std::string, std::string>{{"page_name", "VC_Home"}, {"button_name", "Go_Help"}}));
    EXPECT_FALSE(events[1].isImportant);

    const auto web = manager.webEvents();
    ASSERT_EQ(web.size(), 2u);
    EXPECT_EQ(web[0].label, "0.1.0");
    EXPECT_EQ(web[1].action, "Go_Help");
    EXPECT_EQ(web[1].label, "VC_Home");
}

TEST(TrackManager, StepsOfOneFunnelRunShareTheStoredRequestId) {
    auto& manager = TrackManager::shareInstance();
    manager.reset();
    TrackManager::initialWithLaunchOptions({});
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(TrackManager::lastTrackIdKey);

    TrackManager::TrackCompleteRate("Complete_Export", "export_format", 2);  // nothing stored: a new id
    TrackManager::TrackCompleteRate("Complete_Export", "export_convert", 4);
    TrackManager::TrackCompleteRate("Complete_Export", "export_start", 1);   // a new run
    TrackManager::TrackCompleteRate("Complete_Export", "export_save", 3);

    const auto events = manager.events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].name, "Complete_Export");
    EXPECT_EQ(events[0].params.at("step_name"), "export_format");
    EXPECT_EQ(events[0].params.at("step_order"), "2");
    EXPECT_EQ(requestIdOf(events[0]).size(), 36u);
    EXPECT_EQ(requestIdOf(events[1]), requestIdOf(events[0]));
    EXPECT_NE(requestIdOf(events[2]), requestIdOf(events[1]));
    EXPECT_EQ(requestIdOf(events[3]), requestIdOf(events[2]));
    EXPECT_EQ(defaults.stringForKey(TrackManager::lastTrackIdKey), requestIdOf(events[3]));

    // Kept under the sandboxed configuration folder, so a later run continues the same funnel run.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(defaults.path().rfind(config, 0), 0u);
    platform::UserDefaults reopened(defaults.path());
    EXPECT_EQ(reopened.stringForKey(TrackManager::lastTrackIdKey), requestIdOf(events[3]));
}

TEST(FeedbackVC, HasNoSheetYet) { EXPECT_EQ(FeedbackVC::initFromStory(), nullptr); }
