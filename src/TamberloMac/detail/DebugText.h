// Numbers in the editor's debug lines: a double in its shortest exact decimal form, always with a
// fraction or exponent ("3.0", "0.1", "1e-05"), as the lines have always been read.
#pragma once

#include <charconv>
#include <cmath>
#include <string>

namespace tamberlo::detail {

inline std::string debugNumber(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    std::string out(text, result.ptr);
    if (out.find_first_of(".e") == std::string::npos) out += ".0";
    return out;
}

inline const char* debugBool(bool value) { return value ? "true" : "false"; }

}  // namespace tamberlo::detail
