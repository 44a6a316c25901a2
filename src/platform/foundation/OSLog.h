// The system log: entries tagged with a subsystem, a category and a level. Each entry goes to
// stderr (unless silenced) and to an in-memory sink that tests read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class OSLogType : uint8_t { default_ = 0, info = 1, debug = 2, error = 16, fault = 17 };

struct OSLog {
    std::string subsystem;
    std::string category;
};

struct OSLogEntry {
    std::string subsystem;
    std::string category;
    OSLogType type = OSLogType::default_;
    std::string message;
};

// os_log(log, type, "%s", message).
void os_log(const OSLog& log, OSLogType type, const std::string& message);

namespace LogSink {
std::vector<OSLogEntry> entries();
void clear();
// stderr echo; on by default, off when TAMBERLO_LOG_STDERR=0.
void setEchoToStderr(bool echo);
}  // namespace LogSink

}  // namespace platform
