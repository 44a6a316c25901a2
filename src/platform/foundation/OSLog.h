// The system log: entries tagged with a subsystem, a category and a level. Each entry goes to the
// log file "$XDG_STATE_HOME/Tamberlo/Tamberlo.log" (~/.local/state without XDG_STATE_HOME; mode
// 0600, moved to "Tamberlo.log.1" once it passes its size limit), to an in-memory sink that tests
// read, and, by level, to stderr: errors and faults only, everything with TAMBERLO_LOG_STDERR=1,
// nothing with TAMBERLO_LOG_STDERR=0.
//
// A message often carries text from outside (a server's reply, a file name, a MIDI port's name):
// every entry is made safe once here, so that it stays one line and shows no credentials. Control
// characters are escaped ("\n", "\x1b", "\u0085") and the user-info of URLs ("user:pw@") is dropped.
#pragma once

#include <cstddef>
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

// The message as an entry holds it: control characters escaped, URLs without user-info.
std::string logSafeText(const std::string& text);

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
// Past this size the file becomes "Tamberlo.log.1" (replacing the one before) and a new one starts.
inline constexpr std::size_t defaultRotationSize = std::size_t(8) << 20;
void setRotationSize(std::size_t bytes);
// Closes the file; the next entry opens it again where the environment says then (tests).
void closeFile();
}  // namespace LogSink

}  // namespace platform
