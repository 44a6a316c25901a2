// The rating prompt is asked for at most once per version and at most once ever.
#include "Services/Feedback/RouterManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/storekit/ReviewPrompt.h"

#include <QJsonObject>

#include <gtest/gtest.h>

using namespace tamberlo;

namespace {
class Rating : public ::testing::Test {
protected:
    void SetUp() override {
        defaults.removeObjectForKey(RouterManager::versionRateDicKey);
        defaults.removeObjectForKey(RouterManager::hasRateKey);
        platform::ReviewPrompt::setHandlerForTesting([this] { ++requests; });
    }
    void TearDown() override {
        platform::ReviewPrompt::setHandlerForTesting({});
        platform::Bundle::main().restoreInfoDictionary();
    }
    static void setVersion(const std::string& version) {
        auto info = platform::Bundle::main().infoDictionary();
        info["CFBundleShortVersionString"] = version;
        platform::Bundle::main().setInfoDictionaryForTesting(info);
    }

    platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults();
    int requests = 0;
};
}  // namespace

TEST_F(Rating, OncePerVersionKeepingEveryVersion) {
    setVersion("1.0");
    RouterManager::showRatedThisVersion();
    RouterManager::showRatedThisVersion();
    EXPECT_EQ(requests, 1);
    setVersion("1.1");
    RouterManager::showRatedThisVersion();
    RouterManager::showRatedThisVersion();
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(defaults.dictionaryForKey(RouterManager::versionRateDicKey),
              (QJsonObject{{"1.0", 1}, {"1.1", 1}}));
    // The per-version record does not count for the once-ever one.
    EXPECT_FALSE(defaults.hasKey(RouterManager::hasRateKey));
}

TEST_F(Rating, OnceEverAcrossVersions) {
    setVersion("1.0");
    RouterManager::showRateAllLife();
    setVersion("2.0");
    RouterManager::showRateAllLife();
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(defaults.boolForKey(RouterManager::hasRateKey));
    EXPECT_FALSE(defaults.hasKey(RouterManager::versionRateDicKey));
    RouterManager::showRatedThisVersion();
    EXPECT_EQ(requests, 2);
}
