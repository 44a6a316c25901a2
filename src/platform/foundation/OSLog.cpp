#include "platform/foundation/OSLog.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sys/resource.h>
#include <sys/stat.h>

namespace platform {

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
// Never destroyed: a thread still finishing its work while the process exits may log.
std::vector<OSLogEntry>& sink() {
    static auto* entries = new std::vector<OSLogEntry>;
    return *entries;
}
std::atomic<LogSink::Echo>& echo() {
    static std::atomic<LogSink::Echo> level{[] {
        const char* v = std::getenv("TAMBERLO_LOG_STDERR");
        if (v && std::strcmp(v, "0") == 0) return LogSink::Echo::none;
        if (v && std::strcmp(v, "1") == 0) return LogSink::Echo::all;
        return LogSink::Echo::errors;
    }()};
    return level;
}
bool isError(OSLogType type) { return type == OSLogType::error || type == OSLogType::fault; }

std::string logFilePath() {
    namespace fs = std::filesystem;
    const char* state = std::getenv("XDG_STATE_HOME");
    fs::path folder;
    if (state && *state) {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        folder = fs::path(home && *home ? home : "/tmp") / ".local" / "state";
    }
    return (folder / "Tamberlo" / "Tamberlo.log").string();
}

// Opened at the first entry; an unwritable place leaves the file out and the rest of the log as it is.
// Lines that would take the file past the process's file-size limit are left out of it too: the
// kernel would end the process for them.
struct LogFile {
    std::FILE* file = nullptr;
    uintmax_t limit = UINTMAX_MAX;
};
LogFile& logFile() {
    static LogFile log = [] {
        LogFile opened;
        const std::filesystem::path path = logFilePath();
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        opened.file = std::fopen(path.c_str(), "a");
        if (!opened.file) return opened;
        std::setvbuf(opened.file, nullptr, _IOLBF, 0);
        struct rlimit limit{};
        if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) opened.limit = limit.rlim_cur;
        return opened;
    }();
    return log;
}
const char* levelName(OSLogType type) {
    switch (type) {
    case OSLogType::info: return "info";
    case OSLogType::debug: return "debug";
    case OSLogType::error: return "error";
    case OSLogType::fault: return "fault";
    default: return "default";
    }
}
// The sink keeps the latest entries only, so a long-running process does not grow without bound.
constexpr size_t kSinkLimit = 10000;
}  // namespace

void os_log(const OSLog& log, OSLogType type, const std::string& message) {
    const LogSink::Echo level = echo().load(std::memory_order_relaxed);
    if (level == LogSink::Echo::all || (level == LogSink::Echo::errors && isError(type))) {
        std::fprintf(stderr, "[%s:%s] %s: %s\n", log.subsystem.c_str(), log.category.c_str(), levelName(type),
                     message.c_str());
    }
    std::lock_guard lock(sinkMutex());
    LogFile& out = logFile();
    if (out.file) {
        const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        const char* format = "%s [%s:%s] %s: %s\n";
        const int length = std::snprintf(nullptr, 0, format, stamp, log.subsystem.c_str(), log.category.c_str(),
                                          levelName(type), message.c_str());
        // Other processes append to the same file: its size is looked at before each line.
        struct stat info{};
        const bool fits = out.limit == UINTMAX_MAX ||
                          (length >= 0 && ::fstat(::fileno(out.file), &info) == 0 &&
                           uintmax_t(info.st_size) + uintmax_t(length) <= out.limit);
        if (fits)
            std::fprintf(out.file, format, stamp, log.subsystem.c_str(), log.category.c_str(), levelName(type),
                         message.c_str());
    }
    auto& entries = sink();
    if (entries.size() >= kSinkLimit) entries.erase(entries.begin(), entries.begin() + kSinkLimit / 2);
    entries.push_back(OSLogEntry{log.subsystem, log.category, type, message});
}

namespace LogSink {
std::vector<OSLogEntry> entries() {
    std::lock_guard lock(sinkMutex());
    return sink();
}
void clear() {
    std::lock_guard lock(sinkMutex());
    sink().clear();
}
void setEcho(Echo level) { echo().store(level); }
void setEchoToStderr(bool on) { echo().store(on ? Echo::all : Echo::none); }
std::string filePath() { return logFilePath(); }
}  // namespace LogSink

}  // namespace platform
