#include "Sonora/Internals/Utilities/Log.h"

#include "Sonora/Internals/Settings/Settings.h"

#include <cstdio>

namespace sonora {

namespace {
constexpr const char* kSubsystem = "io.tamberlo.Sonora";
}

const platform::OSLog& OSLog::general() {
    static const platform::OSLog log{kSubsystem, "general"};
    return log;
}
const platform::OSLog& OSLog::settings() {
    static const platform::OSLog log{kSubsystem, "settings"};
    return log;
}
const platform::OSLog& OSLog::midi() {
    static const platform::OSLog log{kSubsystem, "midi"};
    return log;
}
const platform::OSLog& OSLog::fileHandling() {
    static const platform::OSLog log{kSubsystem, "fileHandling"};
    return log;
}

void Log(std::initializer_list<LogItem> items, const platform::OSLog& log, OSLogType type,
         std::source_location where) {
    if (!Settings::enableLogging()) return;
    std::string file = where.file_name();
    if (const auto slash = file.rfind('/'); slash != std::string::npos) file.erase(0, slash + 1);
    std::string content;
    for (const LogItem& item : items) {
        if (!content.empty()) content += ' ';
        content += item.text();
    }
    const std::string position = file + ":" + where.function_name() + ":" + std::to_string(where.line());
    platform::os_log(log, type, position + ":" + content + " (" + position + ")");
}

}  // namespace sonora
