#include "platform/foundation/Bundle.h"
#include "platform/foundation/HostTime.h"
#include "platform/foundation/OSLog.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using platform::Bundle;

TEST(FoundationBundle, InfoDictionaryHasTheApplicationsIdentity) {
    const Bundle::InfoDictionary info = Bundle::main().infoDictionary();
    EXPECT_EQ(info.at("CFBundleIdentifier"), "io.tamberlo.Tamberlo");
    EXPECT_EQ(info.at("CFBundleName"), "Tamberlo");
    EXPECT_EQ(info.at("CFBundleShortVersionString"), "0.1.0");
    EXPECT_EQ(info.at("CFBundleVersion"), "1");
    EXPECT_FALSE(info.at("NSMicrophoneUsageDescription").empty());
    EXPECT_EQ(Bundle::main().bundleIdentifier(), "io.tamberlo.Tamberlo");
    EXPECT_EQ(info.at("CFBundleDisplayName"), "Tamberlo");
    EXPECT_EQ(Bundle::main().objectForInfoDictionaryKey("CFBundleNoSuchKey"), std::nullopt);
}

TEST(FoundationBundle, TestsCanReplaceAndRestoreTheDictionary) {
    Bundle::main().setInfoDictionaryForTesting({{"CFBundleShortVersionString", "9.9"}});
    EXPECT_EQ(Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString"), "9.9");
    EXPECT_EQ(Bundle::main().bundleIdentifier(), std::nullopt);
    Bundle::main().restoreInfoDictionary();
    EXPECT_EQ(Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString"), "0.1.0");
}

TEST(FoundationHostTime, TicksAreMonotonicNanoseconds) {
    platform::mach_timebase_info_data_t info;
    ASSERT_EQ(platform::mach_timebase_info(&info), platform::KERN_SUCCESS);
    EXPECT_EQ(info.numer, 1u);
    EXPECT_EQ(info.denom, 1u);
    EXPECT_EQ(platform::mach_timebase_info(nullptr), platform::KERN_INVALID_ARGUMENT);

    // The host clock's span lies inside the steady clock's, however long a loaded machine holds
    // the thread between the readings.
    const auto steadyBefore = std::chrono::steady_clock::now();
    const uint64_t before = platform::mach_absolute_time();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t after = platform::mach_absolute_time();
    const auto steadyElapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now() - steadyBefore).count();
    EXPECT_GE(after - before, 20'000'000u);
    EXPECT_LE(after - before, uint64_t(steadyElapsed) + 1'000'000u);
}

// By default only errors and faults reach stderr; the log file under the state folder holds all.
TEST(FoundationLog, InfoGoesToTheFileAndOnlyErrorsToStderr) {
    const std::string path = platform::LogSink::filePath();
    const char* state = std::getenv("XDG_STATE_HOME");
    ASSERT_NE(state, nullptr) << "the test main points the XDG folders at a scratch folder";
    EXPECT_EQ(path, std::string(state) + "/Tamberlo/Tamberlo.log");

    const platform::OSLog log{"io.tamberlo.test", "Log"};
    platform::LogSink::setEcho(platform::LogSink::Echo::errors);
    testing::internal::CaptureStderr();
    platform::os_log(log, platform::OSLogType::info, "an info line for the file");
    platform::os_log(log, platform::OSLogType::debug, "a debug line for the file");
    platform::os_log(log, platform::OSLogType::error, "an error line for both");
    const std::string err = testing::internal::GetCapturedStderr();
    platform::LogSink::setEcho(platform::LogSink::Echo::none);

    EXPECT_EQ(err.find("info line"), std::string::npos) << err;
    EXPECT_EQ(err.find("debug line"), std::string::npos) << err;
    EXPECT_NE(err.find("an error line for both"), std::string::npos) << err;
    const std::string file = testsupport::readFile(path);
    for (const char* line : {"an info line for the file", "a debug line for the file", "an error line for both"})
        EXPECT_NE(file.find(line), std::string::npos) << line;
}
