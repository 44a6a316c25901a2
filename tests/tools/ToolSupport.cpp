#include "ToolSupport.h"

#include "platform/coreaudio/CoreAudioTypes.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>

namespace tool {

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> parseNonNegative(const std::string& text) {
    const auto value = parseNumber(text);
    if (!value || *value < 0) return std::nullopt;
    return value;
}

std::optional<uint32_t> parseCount(const std::string& text) {
    const auto value = parseNumber(text);
    if (!value || *value < 0 || *value > 4294967295.0 || std::floor(*value) != *value) return std::nullopt;
    return uint32_t(*value);
}

std::optional<std::pair<std::string, std::string>> splitClip(const std::string& text) {
    const auto at = text.rfind('@');
    if (at == std::string::npos || at == 0) return std::nullopt;
    return std::pair{text.substr(0, at), text.substr(at + 1)};
}

int printUsage(const char* lines) {
    std::cerr << lines;
    return 2;
}

void printError(const std::string& text) { std::cerr << "sonora-tool: " << text << "\n"; }

void printError(const platform::NSError& error) {
    std::cerr << "sonora-tool: " << error.localizedDescription << " (" << error.domain << " " << error.code << ")\n";
}

platform::AVAudioSettings floatStereoSettings(double sampleRate) {
    return {
        {platform::AVFormatIDKey, double(platform::kAudioFormatLinearPCM)},
        {platform::AVSampleRateKey, sampleRate},
        {platform::AVNumberOfChannelsKey, 2},
        {platform::AVLinearPCMBitDepthKey, 32},
        {platform::AVLinearPCMIsFloatKey, 1},
    };
}

}  // namespace tool
