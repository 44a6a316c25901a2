#include "Sonora/Internals/Utilities/Log.h"

#include "Sonora/Internals/Settings/Settings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

std::string LogItem::floatingText(double value, bool isDouble) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    // Shortest round-trip digits of the value in its own precision.
    const auto end = isDouble ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr
                              : std::to_chars(buffer, buffer + sizeof buffer, float(value), std::chars_format::scientific).ptr;
    const std::string scientific(buffer, end);  // "-d.ddde+XX"
    const size_t e = scientific.find('e');
    const bool negative = scientific[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; ++i)
        if (scientific[i] != '.') digits += scientific[i];
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    const double magnitude = std::fabs(value);
    // Exponential form below 1e-4 and from the point where the type no longer holds every integer.
    const double integralLimit = isDouble ? 9007199254740992.0 : 16777216.0;
    std::string text = negative ? "-" : "";
    if (magnitude != 0 && (magnitude < 1e-4 || magnitude >= integralLimit)) {
        text += digits[0];
        if (digits.size() > 1) text += "." + digits.substr(1);
        text += exponent < 0 ? "e-" : "e+";
        const int shown = std::abs(exponent);
        if (shown < 10) text += '0';
        text += std::to_string(shown);
        return text;
    }
    if (exponent < 0) {
        text += "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else if (size_t(exponent) + 1 >= digits.size()) {
        text += digits + std::string(size_t(exponent) + 1 - digits.size(), '0') + ".0";
    } else {
        text += digits.substr(0, size_t(exponent) + 1) + "." + digits.substr(size_t(exponent) + 1);
    }
    return text;
}

void Log(std::initializer_list<LogItem> items, const platform::OSLog& log, OSLogType type,
         std::source_location where) {
    if (!Settings::enableLogging()) return;
    std::string file = where.file_name();
    if (const auto slash = file.rfind('/'); slash != std::string::npos) file.erase(0, slash + 1);
    std::string content;
    bool first = true;
    for (const LogItem& item : items) {
        if (!first) content += ' ';
        content += item.text();
        first = false;
    }
    const std::string position = file + ":" + where.function_name() + ":" + std::to_string(where.line());
    platform::os_log(log, type, position + ":" + content + " (" + position + ")");
}

}  // namespace sonora
