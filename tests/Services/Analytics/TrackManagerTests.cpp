// The usage events the editor sends, kept in memory.
#include "Services/Analytics/TrackManager.h"
#include "platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>

using namespace tamberlo;

namespace {
std::string requestIdOf(const TrackEvent& event) { return event.text("requestId"); }
}  // namespace

TEST(TrackManager, NoEventLogEventBeforeTheSwitchButPageAndSatisfactionHitsGoOut) {
    auto& manager = TrackManager::shareInstance();
    manager.reset();
    TrackManager::TrackLaunch();
    TrackManager::TrackPage("VC_Home", "Action_Add");
    TrackManager::TrackSatisfyWithFuncName("使用满意度", true);
    EXPECT_TRUE(manager.events().empty());
    const auto web = manager.webEvents();
    ASSERT_EQ(web.size(), 2u);
    EXPECT_EQ(web[0].category, "按钮点击");
    EXPECT_EQ(web[0].action, "Action_Add");
    EXPECT_EQ(web[0].label, "VC_Home");
    EXPECT_EQ(web[1].category, "使用满意度");
    EXPECT_EQ(web[1].label, "满意度");
    EXPECT_EQ(web[1].value, 1);
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
    TrackManager::TrackEventWithName("", QJsonObject{{"a", "b"}}, true);

    const auto events = manager.events();
    // The first launch of an install also sends the activation, once.
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, "launch");
    ASSERT_TRUE(events[0].params.value("launch_time").isString());
    const std::string launchTime = events[0].text("launch_time");
    EXPECT_GE(launchTime.size(), 13u);
    EXPECT_EQ(launchTime.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(events[1].name, "np_callback_event");
    EXPECT_TRUE(events[1].isImportant);
    EXPECT_TRUE(events[1].params.value("active_time").isDouble());
    EXPECT_EQ(events[2].name, "button_click");
    EXPECT_EQ(events[2].params, (QJsonObject{{"page_name", "VC_Home"}, {"button_name", "Go_Help"}}));
    EXPECT_FALSE(events[2].isImportant);

    const auto web = manager.webEvents();
    ASSERT_EQ(web.size(), 2u);
    EXPECT_EQ(web[0].category, "App启动");
    EXPECT_EQ(web[0].action, "App启动");
    EXPECT_EQ(web[0].label, "0.1.0");
    EXPECT_EQ(web[1].category, "按钮点击");
    EXPECT_EQ(web[1].action, "Go_Help");
    EXPECT_EQ(web[1].label, "VC_Home");

    // A second launch: no second activation.
    manager.clearEvents();
    TrackManager::TrackLaunch();
    ASSERT_EQ(manager.events().size(), 1u);
    EXPECT_EQ(manager.events()[0].name, "launch");
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
    EXPECT_EQ(events[0].text("step_name"), "export_format");
    EXPECT_EQ(events[0].params.value("step_order"), QJsonValue(2));  // a number in the record
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

TEST(TrackManager, SatisfactionAndFunctionEvents) {
    auto& manager = TrackManager::shareInstance();
    manager.reset();
    TrackManager::initialWithLaunchOptions({});
    TrackManager::TrackSatisfyWithFuncName("使用满意度", false);
    TrackManager::TrackFuncCompleteWithFuncName("export");  // no start: nothing
    TrackManager::TrackFuncStartWithFuncName("export");
    TrackManager::TrackFuncCompleteWithFuncName("export");
    TrackManager::TrackFuncCompleteWithFuncName("export");  // the marker is spent
    TrackManager::TrackADID("abc");

    const auto events = manager.events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].name, "satisfication");
    EXPECT_EQ(events[0].params, (QJsonObject{{"func_name", "使用满意度"}, {"satisfiable", 0}}));
    EXPECT_EQ(events[1].name, "satisfy");
    EXPECT_EQ(events[1].params, (QJsonObject{{"function_name", "使用满意度"}, {"is_like", "false"}}));
    EXPECT_EQ(events[2].name, "Func_start");
    EXPECT_EQ(events[3].name, "Func_Complete");
    EXPECT_EQ(events[4].name, "ADID");
    EXPECT_EQ(events[4].text("ID"), "900150983CD24FB0D6963F7D28E17F72");
    ASSERT_EQ(manager.webEvents().size(), 1u);
    EXPECT_EQ(manager.webEvents()[0].value, 0);
}

