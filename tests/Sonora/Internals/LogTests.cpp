#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"

#include <gtest/gtest.h>

#include <optional>
#include <source_location>
#include <string>

namespace LogSink = platform::LogSink;
using platform::OSLogEntry;
using namespace sonora;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        logging_ = Settings::enableLogging();
        Settings::setEnableLogging(true);
        LogSink::clear();
    }
    void TearDown() override { Settings::setEnableLogging(logging_); }

private:
    bool logging_ = true;
};

struct Logged {
    std::string function;
    int line = 0;
};

Logged logThreeItems() {
    const std::optional<int> absent;
    const int line = __LINE__ + 1;
    Log({"a", 3, absent});
    return {std::source_location::current().function_name(), line};
}

}  // namespace

TEST_F(LogTest, MessageCarriesThePositionBeforeAndAfterTheContent) {
    const Logged where = logThreeItems();
    const auto entries = LogSink::entries();
    ASSERT_EQ(entries.size(), 1u);
    const std::string position = "LogTests.cpp:" + where.function + ":" + std::to_string(where.line);
    EXPECT_EQ(entries[0].message, position + ":a 3 nil (" + position + ")");
    EXPECT_EQ(entries[0].category, "general");
    EXPECT_EQ(entries[0].type, OSLogType::info);
    EXPECT_EQ(entries[0].subsystem, OSLog::general().subsystem);
}

TEST_F(LogTest, LevelsAndCategoriesAreKept) {
    Log({"bad file"}, OSLog::fileHandling(), OSLogType::error);
    Log({"note"}, OSLog::midi());
    const auto entries = LogSink::entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].category, "fileHandling");
    EXPECT_EQ(entries[0].type, OSLogType::error);
    EXPECT_EQ(entries[1].category, "midi");
    EXPECT_EQ(entries[1].type, OSLogType::info);
    EXPECT_EQ(OSLog::settings().category, "settings");
    EXPECT_EQ(OSLog::general().subsystem, OSLog::settings().subsystem);
    EXPECT_EQ(OSLog::midi().subsystem, OSLog::fileHandling().subsystem);
}

TEST_F(LogTest, NothingIsWrittenWhileLoggingIsOff) {
    Settings::setEnableLogging(false);
    Log({"hidden"}, OSLog::general(), OSLogType::error);
    EXPECT_TRUE(LogSink::entries().empty());
}

TEST_F(LogTest, ItemsArePrintedAsThePlatformPrintsThem) {
    const struct {
        LogItem item;
        const char* text;
    } table[] = {
        {LogItem(""), ""},
        {LogItem(true), "true"},
        {LogItem(-7), "-7"},
        {LogItem(uint8_t(200)), "200"},
        {LogItem(3.0), "3.0"},
        {LogItem(0.1), "0.1"},
        {LogItem(0.1f), "0.1"},
        {LogItem(-2.5f), "-2.5"},
        {LogItem(1e16), "1e+16"},
        {LogItem(0.00001), "1e-05"},
        {LogItem(44100.0), "44100.0"},
        {LogItem(nullptr), "nil"},
        {LogItem(std::optional<double>(1.5)), "1.5"},
    };
    for (const auto& row : table) EXPECT_EQ(row.item.text(), row.text);
}

TEST_F(LogTest, EmptyItemsStillTakeTheirBlank) {
    Log({"", "b"});
    const auto entries = LogSink::entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].message.find(": b ("), std::string::npos) << entries[0].message;
}
