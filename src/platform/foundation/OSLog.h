// The system log: entries tagged with a subsystem, a category and a level. Each entry goes to the
// log file "$XDG_STATE_HOME/Tamberlo/Tamberlo.log" (~/.local/state without XDG_STATE_HOME), to an
// in-memory sink that tests read, and, by level, to stderr: errors and faults only, everything
// with TAMBERLO_LOG_STDERR=1, nothing with TAMBERLO_LOG_STDERR=0.
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
// What reaches stderr (the default comes from TAMBERLO_LOG_STDERR).
enum class Echo { none, errors, all };
void setEcho(Echo echo);
// true: everything; false: nothing.
void setEchoToStderr(bool echo);
// The log file (created with its folder at the first entry).
std::string filePath();
}  // namespace LogSink

}  // namespace platform
