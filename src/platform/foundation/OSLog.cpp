#include "platform/foundation/OSLog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
std::vector<OSLogEntry>& sink() {
    static std::vector<OSLogEntry> entries;
    return entries;
}
std::atomic<bool>& echo() {
    static std::atomic<bool> on{[] {
        const char* v = std::getenv("TAMBERLO_LOG_STDERR");
        return !(v && std::strcmp(v, "0") == 0);
    }()};
    return on;
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
    if (echo().load(std::memory_order_relaxed)) {
        std::fprintf(stderr, "[%s:%s] %s: %s\n", log.subsystem.c_str(), log.category.c_str(), levelName(type),
                     message.c_str());
    }
    std::lock_guard lock(sinkMutex());
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
void setEchoToStderr(bool on) { echo().store(on); }
}  // namespace LogSink

}  // namespace platform
