// Localization, label formatting, date helpers, the status overlay and the notification names.
#include "EditorFixtures.h"

#include "TamberloMac/Interface/ArrayHelper.h"
#include "TamberloMac/Interface/GCD.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Interface/TimerAddition.h"
#include "TamberloMac/Interface/ToolManager.h"
#include "TamberloMac/Shell/DateUtilities.h"
#include "TamberloMac/Shell/Localized.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using namespace tamberlo;

TEST(Localized, UserLanguagesMatchTheShippedLocalizations) {
    using Languages = std::vector<std::string>;
    const std::vector<std::pair<Languages, std::string>> cases{
        {{"zh-CN", "zh-Hans-CN"}, "zh-Hans"}, {{"zh-SG"}, "zh-Hans"},       {{"zh-Hans"}, "zh-Hans"},
        {{"zh_CN.UTF-8"}, "zh-Hans"},         {{"zh-TW"}, "zh-Hant"},       {{"zh-HK"}, "zh-Hant"},
        {{"zh-MO"}, "zh-Hant"},               {{"zh-Hant-TW"}, "zh-Hant"},  {{"en-US"}, "en"},
        {{"en"}, "en"},                       {{"ja-JP", "zh-CN"}, "zh-Hans"}, {{"ja-JP"}, "en"},
        {{"de-DE", "fr"}, "en"},              {{}, "en"},                   {{"english"}, "en"},
    };
    for (const auto& [languages, expected] : cases) {
        std::string joined;
        for (const auto& l : languages) joined += l + " ";
        EXPECT_EQ(preferredLocalization(languages), expected) << joined;
    }
}

TEST(Localized, LooksTheKeyUpInTheFirstPreferredTable) {
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases{
        {{"zh-CN"}, "导出成功", "导出成功"},
        {{"en-GB"}, "导出成功", "Export succeeded"},
        {{"ja"}, "没有可以播放的音轨", "There is no track to play"},
        {{"zh-TW"}, "导出成功", "导出成功"},      // no Traditional Chinese table: the key
        {{"en"}, "一个没有的键", "一个没有的键"},  // a key the table lacks
    };
    for (const auto& [languages, key, expected] : cases) {
        setPreferredLanguagesForTesting(languages);
        EXPECT_EQ(localized(key), expected) << languages[0] << " " << key;
    }
    setPreferredLanguagesForTesting(std::nullopt);
    EXPECT_TRUE(hasLocalizationTable("zh-Hans"));
    EXPECT_FALSE(hasLocalizationTable("zh-Hant"));
    EXPECT_EQ(localized("导出", "zh-Hans"), "导出");
}

TEST(ToolManager, TimeAndVolumeLabels) {
    const std::vector<std::pair<double, std::string>> times{
        {0, "00:00:00"}, {59.9, "00:00:59"}, {3661, "01:01:01"}, {650, "00:10:50"}, {std::nan(""), "00:00:00"}};
    for (const auto& [seconds, text] : times) EXPECT_EQ(ToolManager::timeStringWith(seconds), text) << seconds;

    setPreferredLanguagesForTesting(std::vector<std::string>{"zh-CN"});
    const std::vector<std::pair<double, std::string>> volumes{
        {0, "音量：-∞dB"}, {-1, "音量：-∞dB"}, {0.5, "音量：-6.0dB"}, {1.0, "音量：+0.0dB"}, {2.0, "音量：+6.0dB"}};
    for (const auto& [gain, text] : volumes) EXPECT_EQ(ToolManager::volumeStringWith(gain), text) << gain;
    setPreferredLanguagesForTesting(std::vector<std::string>{"en"});
    EXPECT_EQ(ToolManager::volumeStringWith(1.0), "Volume: +0.0dB");  // no Chinese colon in English
    setPreferredLanguagesForTesting(std::nullopt);
}

TEST(DateUtilities, PartsParsingAndFormatting) {
    const auto date = dateFromString("20240229173005", "yyyyMMddHHmmss");
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(year(*date), 2024);
    EXPECT_EQ(month(*date), 2);
    EXPECT_EQ(day(*date), 29);
    EXPECT_EQ(stringFromDate(*date, "yyyyMMddHHmmss"), "20240229173005");
    EXPECT_EQ(stringFromDate(*date, "yyyy-MM-dd"), "2024-02-29");
    EXPECT_FALSE(dateFromString("not a date", "yyyyMMddHHmmss").has_value());
    EXPECT_EQ(stringFromDate(std::chrono::system_clock::now(), "yyyyMMddHHmmss").size(), 14u);
}

TEST(HUD, MessagesCloseThemselvesAfterOneSecond) {
    // Dismissals that earlier tests' messages still have pending run first: each is due a lifetime
    // after its message showed, so a marker sent once those messages have shown, with the same
    // delay, comes after every one of them.
    editortest::spinFor(0.05);
    auto settled = std::make_shared<bool>(false);
    GCDAfterMain([settled] { *settled = true; }, HUD::messageLifetime());
    ASSERT_TRUE(editortest::spinUntil([&] { return *settled; }));
    HUD::dismiss();
    std::vector<std::optional<HUD::Message>> drawn;
    HUD::setListener([&](const std::optional<HUD::Message>& message) { drawn.push_back(message); });
    HUD::clearRequests();

    HUD::showProgressWithStatus("格式转换中...");
    EXPECT_EQ(HUD::requests().size(), 1u);  // recorded at once, shown on the main queue
    editortest::spinUntil([] { return HUD::current().has_value(); }, 2);
    ASSERT_TRUE(HUD::current().has_value());
    EXPECT_EQ(HUD::current()->kind, HUD::Kind::progress);
    editortest::spinFor(1.2);
    EXPECT_TRUE(HUD::current().has_value());  // progress stays

    // A success, and an error half a second later: the success's dismissal removes the error early.
    const auto start = std::chrono::steady_clock::now();
    HUD::showSuccessWithStatus("导出成功");
    editortest::spinFor(0.5);
    HUD::showErrorWithStatus("导出失败");
    editortest::spinUntil([] { return HUD::current() && HUD::current()->kind == HUD::Kind::error; }, 2);
    editortest::spinUntil([] { return !HUD::current().has_value(); }, 3);
    const double gone = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(HUD::current().has_value());
    // At the success's dismissal (1 s), not the error's own (1.5 s); the margin is for a loaded machine.
    EXPECT_GE(gone, 0.95);
    EXPECT_LT(gone, 1.4);
    editortest::spinFor(0.7);  // the error's own dismissal finds nothing to remove

    HUD::setListener({});
    ASSERT_FALSE(drawn.empty());
    EXPECT_FALSE(drawn.back().has_value());
    EXPECT_EQ(HUD::requests().size(), 3u);
}

TEST(NotifyManager, NamesArePostedOnTheDefaultCentreOnTheMainThread) {
    EXPECT_EQ(NotifyManager::SelectedMusicDidChange(), "NotifyManager.SelectedMusicDidChange");
    EXPECT_EQ(NotifyManager::PlayStateDidChange(), "NotifyManager.PlayStateDidChange");
    EXPECT_EQ(NotifyManager::OnlyPlayTrackDidChange(), "NotifyManager.OnlyPlayTrackDidChange");

    auto& center = platform::NotificationCenter::defaultCenter();
    int received = 0;
    bool onMain = false;
    const auto token = center.addObserver(NotifyManager::OnlyPlayTrackDidChange(), [&](const platform::Notification& n) {
        ++received;
        onMain = platform::DispatchQueue::main().isCurrent();
        EXPECT_EQ(n.object, nullptr);
    });
    NotifyManager::post(NotifyManager::OnlyPlayTrackDidChange());
    EXPECT_EQ(received, 1);  // delivered before post returns on the main thread
    GCDAsyncGlobal([] { NotifyManager::post(NotifyManager::OnlyPlayTrackDidChange()); });
    editortest::spinUntil([&] { return received == 2; });
    EXPECT_EQ(received, 2);
    EXPECT_TRUE(onMain);
    NotifyManager::post(NotifyManager::PlayStateDidChange());
    EXPECT_EQ(received, 2);
    center.removeObserver(token);
}

TEST(GCD, BlocksRunWhereAndWhenAsked) {
    std::vector<std::string> order;
    bool firstOnMain = true;
    bool secondOnMain = false;
    GCDAsyncGlobalThenMain([&] { firstOnMain = platform::DispatchQueue::main().isCurrent(); },
                           [&] {
                               secondOnMain = platform::DispatchQueue::main().isCurrent();
                               order.push_back("then-main");
                           });
    const auto start = std::chrono::steady_clock::now();
    GCDAfterMain([&] { order.push_back("after"); }, 0.2);
    editortest::spinUntil([&] { return order.size() == 2; }, 3);
    EXPECT_EQ(order, (std::vector<std::string>{"then-main", "after"}));
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.19);
    EXPECT_FALSE(firstOnMain);
    EXPECT_TRUE(secondOnMain);
}

TEST(ArrayHelper, ListOperations) {
    const std::vector<int> list{3, 1, 3, 2, 1};
    EXPECT_EQ(distinctArr(list), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(map(list, [](int v) { return std::to_string(v); }), (std::vector<std::string>{"3", "1", "3", "2", "1"}));
    EXPECT_EQ(map(list, nullptr), list);
    EXPECT_EQ(filter(list, [](int v) { return v > 1; }), (std::vector<int>{3, 3, 2}));
    EXPECT_EQ(filter(list, nullptr), list);
    EXPECT_EQ(sortBy(list, [](int a, int b) { return a > b; }), (std::vector<int>{1, 1, 2, 3, 3}));
    // Only neighbours the block names are exchanged: a block that never holds keeps the order.
    EXPECT_EQ(sortBy(list, [](int, int) { return false; }), list);

    const std::vector<int> three{1, 2, 3};
    struct Case {
        long n;
        std::vector<int> prefix, suffix;
    };
    for (const auto& c : std::vector<Case>{{0, {}, {}}, {-1, {}, {}}, {2, {1, 2}, {2, 3}}, {5, three, three}}) {
        EXPECT_EQ(prefix(three, c.n), c.prefix) << c.n;
        EXPECT_EQ(suffix(three, c.n), c.suffix) << c.n;
    }
}

TEST(TimerAddition, PauseHoldsTheTimerAndResumeFiresIt) {
    int fires = 0;
    auto timer = platform::NSTimer::make(0.01, true, [&](platform::NSTimer&) { ++fires; });
    pause(*timer);
    EXPECT_EQ(timer->fireDate(), platform::NSTimer::distantFuture());
    editortest::spinFor(0.05);
    EXPECT_EQ(fires, 0);

    resume(*timer);
    EXPECT_TRUE(editortest::spinUntil([&] { return fires >= 2; }, 5)) << "fires now and then every interval";
    pause(*timer);
    const int held = fires;
    editortest::spinFor(0.05);
    EXPECT_EQ(fires, held);

    const auto before = platform::NSTimer::Clock::now();
    resumeWithTimeInterval(*timer, 60);
    EXPECT_GE(timer->fireDate(), before + std::chrono::seconds(59));
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
    resume(*timer);
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(fires, held);
}
