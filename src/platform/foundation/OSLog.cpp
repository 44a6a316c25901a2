#include "platform/foundation/OSLog.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
struct LogFile {
    std::FILE* file = nullptr;
    bool tried = false;
    std::string path;
    std::size_t size = 0;  // bytes in the file
    std::size_t rotationSize = LogSink::defaultRotationSize;
    // Lines that would take the file past the process's file-size limit are left out: the kernel
    // would end the process for them.
    uintmax_t limit = UINTMAX_MAX;

    std::FILE* get() {
        if (tried) return file;
        tried = true;
        path = logFilePath();
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        // The log may hold what the user did and where their files are: for their eyes only.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return nullptr;
        struct stat info {};
        ::fchmod(fd, 0600);  // a file left by an older version may be readable by all
        size = ::fstat(fd, &info) == 0 ? std::size_t(info.st_size) : 0;
        file = ::fdopen(fd, "a");
        if (!file) {
            ::close(fd);
            return nullptr;
        }
        std::setvbuf(file, nullptr, _IOLBF, 0);
        struct rlimit fileLimit {};
        if (::getrlimit(RLIMIT_FSIZE, &fileLimit) == 0 && fileLimit.rlim_cur != RLIM_INFINITY)
            limit = fileLimit.rlim_cur;
        return file;
    }
    void close() {
        if (file) std::fclose(file);
        file = nullptr;
        tried = false;
    }
    // Other processes append to the same file: with a limit, its size is looked at before each line.
    bool fits(std::size_t length) const {
        if (limit == UINTMAX_MAX) return true;
        struct stat info {};
        return ::fstat(::fileno(file), &info) == 0 &&
               uintmax_t(info.st_size) + uintmax_t(length) <= limit;
    }
    void wrote(std::size_t bytes) {
        size += bytes;
        if (size < rotationSize) return;
        close();
        std::error_code ec;
        std::filesystem::rename(path, path + ".1", ec);  // one previous file is kept
    }
};
// Never destroyed, like the sink.
LogFile& logFile() {
    static auto* file = new LogFile;
    return *file;
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

std::string logSafeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    static const char hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            }
            continue;
        }
        // C1 controls (U+0080..U+009F, NEL among them) and the Unicode line and paragraph separators.
        const auto next = [&](std::size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
        if (c == 0xc2 && next(1) >= 0x80 && next(1) <= 0x9f) {
            out += "\\u00";
            out += hex[next(1) >> 4];
            out += hex[next(1) & 15];
            i += 1;
            continue;
        }
        if (c == 0xe2 && next(1) == 0x80 && (next(2) == 0xa8 || next(2) == 0xa9)) {
            out += next(2) == 0xa8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        out += char(c);
    }
    // URLs lose their user-info: "scheme://user:pw@host/..." is logged as "scheme://host/...".
    for (std::size_t scheme = out.find("://"); scheme != std::string::npos; scheme = out.find("://", scheme + 3)) {
        const std::size_t authority = scheme + 3;
        const std::size_t end = out.find_first_of("/?# \"'<>", authority);
        const std::size_t at = out.rfind('@', end == std::string::npos ? std::string::npos : end - 1);
        if (at != std::string::npos && at >= authority && (end == std::string::npos || at < end))
            out.erase(authority, at + 1 - authority);
    }
    return out;
}

void os_log(const OSLog& log, OSLogType type, const std::string& raw) {
    const std::string message = logSafeText(raw);
    const LogSink::Echo level = echo().load(std::memory_order_relaxed);
    if (level == LogSink::Echo::all || (level == LogSink::Echo::errors && isError(type))) {
        std::fprintf(stderr, "[%s:%s] %s: %s\n", log.subsystem.c_str(), log.category.c_str(), levelName(type),
                     message.c_str());
    }
    std::lock_guard lock(sinkMutex());
    LogFile& out = logFile();
    // Debug lines stay in the process (the sink and stderr): per-event detail would flood the file.
    std::FILE* file = type == OSLogType::debug ? nullptr : out.get();
    if (file) {
        const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        const std::string line = std::string(stamp) + " [" + log.subsystem + ":" + log.category + "] " +
                                 levelName(type) + ": " + message + "\n";
        if (out.fits(line.size()) && std::fwrite(line.data(), 1, line.size(), file) == line.size())
            out.wrote(line.size());
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
void setRotationSize(std::size_t bytes) {
    std::lock_guard lock(sinkMutex());
    logFile().rotationSize = bytes;
}
void closeFile() {
    std::lock_guard lock(sinkMutex());
    logFile().close();
}
}  // namespace LogSink

}  // namespace platform
