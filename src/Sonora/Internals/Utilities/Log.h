// The audio layer's one logging entry. Every message goes to the system log tagged with a
// category, a level and the caller's source position, unless Settings::enableLogging is off.
//
//   Log({"Cannot read into buffer", error.localizedDescription}, OSLog::fileHandling(), OSLogType::error);
#pragma once

#include "platform/foundation/OSLog.h"

#include <concepts>
#include <initializer_list>
#include <optional>
#include <source_location>
#include <string>
#include <type_traits>

namespace sonora {

using platform::OSLogType;

// The four log handles of the audio layer, created once on first use.
struct OSLog {
    static const platform::OSLog& general();
    static const platform::OSLog& settings();
    static const platform::OSLog& midi();
    static const platform::OSLog& fileHandling();
};

// One logged value, printed as the platform prints it ("nil" for an absent value).
class LogItem {
public:
    LogItem(const char* text) : text_(text ? text : "nil") {}  // NOLINT
    LogItem(const std::string& text) : text_(text) {}          // NOLINT
    LogItem(std::string_view text) : text_(text) {}            // NOLINT
    LogItem(std::nullptr_t) : text_("nil") {}                  // NOLINT
    LogItem(std::nullopt_t) : text_("nil") {}                  // NOLINT
    LogItem(bool value) : text_(value ? "true" : "false") {}   // NOLINT

    template <typename T>
        requires std::is_arithmetic_v<T>
    LogItem(T value) : text_(number(value)) {}  // NOLINT

    template <typename T>
    LogItem(const std::optional<T>& value) : text_(value ? LogItem(*value).text() : "nil") {}  // NOLINT

    // Anything with a description() (formats, errors, nodes) or a path() (URLs).
    template <typename T>
        requires requires(const T& v) { { v.description() } -> std::convertible_to<std::string>; }
    LogItem(const T& value) : text_(value.description()) {}  // NOLINT

    template <typename T>
        requires(requires(const T& v) { { v.absoluteString() } -> std::convertible_to<std::string>; } &&
                 !requires(const T& v) { v.description(); })
    LogItem(const T& value) : text_(value.absoluteString()) {}  // NOLINT

    const std::string& text() const { return text_; }

private:
    template <typename T>
    static std::string number(T value) {
        if constexpr (std::is_same_v<T, float>) {
            return floatingText(value, false);
        } else if constexpr (std::is_floating_point_v<T>) {
            return floatingText(double(value), true);
        } else if constexpr (sizeof(T) == 1) {
            return std::to_string(static_cast<int>(value));
        } else {
            return std::to_string(value);
        }
    }
    // The shortest text that reads back as the same number, spelled as the platform's default
    // description spells it: "3.0", "0.1", "1e-05", "1e+16", "nan", "inf".
    static std::string floatingText(double value, bool isDouble);
    std::string text_;
};

// Log(_:log:type:file:function:line:): writes "<file>:<function>:<line>:<items> (<file>:<function>:<line>)".
void Log(std::initializer_list<LogItem> items, const platform::OSLog& log = OSLog::general(),
         OSLogType type = OSLogType::info, std::source_location where = std::source_location::current());

}  // namespace sonora
