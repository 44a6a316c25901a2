// sonora-tool's conversion commands (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool convert IN OUT [--format F] [--rate R] [--channels C] [--bits B] [--bitrate N]
//                              [--rule any|lessThanOrEqual]
//   sonora-tool waveform FILE POINTS       one line per channel: the RMS of each of POINTS slices
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"
#include "Sonora/AudioFiles/WaveformDataRequest.h"
#include "platform/foundation/NSError.h"

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

int convertCommand(int argc, char** argv);
int waveformCommand(int argc, char** argv);

namespace {

int convertUsage() {
    std::cerr << "usage: sonora-tool convert IN OUT [--format F] [--rate R] [--channels C] [--bits B] [--bitrate N]"
                 " [--rule any|lessThanOrEqual]\n";
    return 2;
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<uint32_t> parseCount(const std::string& text) {
    const auto value = parseNumber(text);
    if (!value || *value < 0 || *value > 4294967295.0 || std::floor(*value) != *value) return std::nullopt;
    return uint32_t(*value);
}

}  // namespace

int convertCommand(int argc, char** argv) {
    if (argc < 3) return convertUsage();
    const std::string input = argv[1];
    const std::string output = argv[2];
    sonora::FormatConverter::Options options;
    for (int i = 3; i < argc; i += 2) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) return convertUsage();
        const std::string value = argv[i + 1];
        if (flag == "--format") {
            options.format = value;
        } else if (flag == "--rate") {
            const auto rate = parseNumber(value);
            if (!rate || *rate <= 0) return convertUsage();
            options.sampleRate = *rate;
        } else if (flag == "--channels" || flag == "--bits" || flag == "--bitrate") {
            const auto count = parseCount(value);
            if (!count) return convertUsage();
            if (flag == "--channels") options.channels = *count;
            if (flag == "--bits") options.bitDepth = *count;
            if (flag == "--bitrate") options.setBitRate(*count);
        } else if (flag == "--rule") {
            if (value == "any") {
                options.bitDepthRule = sonora::FormatConverter::BitDepthRule::any;
            } else if (value == "lessThanOrEqual") {
                options.bitDepthRule = sonora::FormatConverter::BitDepthRule::lessThanOrEqual;
            } else {
                return convertUsage();
            }
        } else {
            return convertUsage();
        }
    }

    // Compressed outputs finish on another thread: wait for the one and only result.
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<std::optional<platform::NSError>> result;
    auto converter = std::make_shared<sonora::FormatConverter>(input, output, options);
    converter->start([&](const std::optional<platform::NSError>& error) {
        std::lock_guard lock(mutex);
        if (result) {
            std::cerr << "sonora-tool: the completion handler ran more than once\n";
            std::_Exit(3);
        }
        result = error;
        finished.notify_all();
    });
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return result.has_value(); });
    if (*result) {
        std::cerr << "sonora-tool: " << (*result)->localizedDescription << " (" << (*result)->domain << " "
                  << (*result)->code << ")\n";
        return 1;
    }
    return 0;
}

int waveformCommand(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: sonora-tool waveform FILE POINTS\n";
        return 2;
    }
    const auto points = parseCount(argv[2]);
    if (!points) {
        std::cerr << "sonora-tool: POINTS must be a whole number\n";
        return 2;
    }
    const auto request = std::make_shared<sonora::WaveformDataRequest>(platform::URL(argv[1]));
    const auto data = request->getData(int64_t(*points), 0);
    if (!data) {
        std::cerr << "sonora-tool: no waveform data for " << argv[1] << "\n";
        return 1;
    }
    for (const auto& channel : *data) {
        for (size_t i = 0; i < channel.size(); ++i) std::printf(i ? " %.9g" : "%.9g", double(channel[i]));
        std::printf("\n");
    }
    return 0;
}
