#include "Sonora/Internals/ErrorHandling/CheckError.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "platform/foundation/OSLog.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace LogSink = platform::LogSink;
using platform::OSLogType;

namespace {

// The content of the one entry a status logged, or none when nothing was logged.
std::optional<std::string> loggedFor(platform::OSStatus status) {
    LogSink::clear();
    sonora::CheckError(status);
    const auto entries = LogSink::entries();
    if (entries.empty()) return std::nullopt;
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, OSLogType::error);
    EXPECT_EQ(entries[0].category, "general");
    // "<file>:<function>:<line>:<content> (<file>:<function>:<line>)"
    const std::string& message = entries[0].message;
    const size_t open = message.rfind(" (");
    const std::string position = message.substr(open + 2, message.size() - open - 3);
    return message.substr(position.size() + 1, open - position.size() - 1);
}

}  // namespace

TEST(CheckError, LogsTheConstantNameOrTheNumber) {
    const bool logging = sonora::Settings::enableLogging();
    sonora::Settings::setEnableLogging(true);
    EXPECT_EQ(loggedFor(0), std::nullopt);
    EXPECT_EQ(loggedFor(-10879), "kAudioUnitErr_InvalidProperty");
    EXPECT_EQ(loggedFor(-10868), "kAudioUnitErr_FormatNotSupported");
    EXPECT_EQ(loggedFor(-10846), "kAudioToolboxErr_InvalidSequenceType");
    EXPECT_EQ(loggedFor(-10844), "kMIDINotPermitted: Have you enabled the audio background mode in your ios app?");
    EXPECT_EQ(loggedFor(-10830), "kMIDIInvalidClient");
    EXPECT_EQ(loggedFor(-50), "kAudio_ParamError");
    for (const int gap : {-10873, -10872, -10870, -10869, -10845})
        EXPECT_EQ(loggedFor(gap), std::to_string(gap));
    EXPECT_EQ(loggedFor(1), "1");
    EXPECT_EQ(loggedFor(-10880), "-10880");
    sonora::Settings::setEnableLogging(logging);
}

TEST(CheckError, WritesNothingWhileLoggingIsOff) {
    const bool logging = sonora::Settings::enableLogging();
    sonora::Settings::setEnableLogging(false);
    EXPECT_EQ(loggedFor(-10844), std::nullopt);
    EXPECT_EQ(loggedFor(1), std::nullopt);
    sonora::Settings::setEnableLogging(logging);
}
