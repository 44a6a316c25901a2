// sonora-tool's conversion commands (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool convert IN OUT [--format F] [--rate R] [--channels C] [--bits B] [--bitrate N]
//                              [--rule any|lessThanOrEqual]
//   sonora-tool waveform FILE POINTS       one line per channel: the RMS of each of POINTS slices
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolSupport.h"

#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"
#include "Sonora/AudioFiles/WaveformDataRequest.h"
#include "platform/foundation/NSError.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

int convertCommand(int argc, char** argv);
int waveformCommand(int argc, char** argv);

namespace {

int convertUsage() {
    return tool::printUsage("usage: sonora-tool convert IN OUT [--format F] [--rate R] [--channels C] [--bits B]"
                            " [--bitrate N] [--rule any|lessThanOrEqual]\n");
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
            const auto rate = tool::parseNumber(value);
            if (!rate || *rate <= 0) return convertUsage();
            options.sampleRate = *rate;
        } else if (flag == "--channels" || flag == "--bits" || flag == "--bitrate") {
            const auto count = tool::parseCount(value);
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
            tool::printError("the completion handler ran more than once");
            std::_Exit(3);
        }
        result = error;
        finished.notify_all();
    });
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return result.has_value(); });
    if (*result) {
        tool::printError(**result);
        return 1;
    }
    return 0;
}

int waveformCommand(int argc, char** argv) {
    if (argc != 3) return tool::printUsage("usage: sonora-tool waveform FILE POINTS\n");
    const auto points = tool::parseCount(argv[2]);
    if (!points) {
        tool::printError("POINTS must be a whole number");
        return 2;
    }
    const auto request = std::make_shared<sonora::WaveformDataRequest>(platform::URL(argv[1]));
    const auto data = request->getData(int64_t(*points), 0);
    if (!data) {
        tool::printError(std::string("no waveform data for ") + argv[1]);
        return 1;
    }
    for (const auto& channel : *data) {
        for (size_t i = 0; i < channel.size(); ++i) std::printf(i ? " %.9g" : "%.9g", double(channel[i]));
        std::printf("\n");
    }
    return 0;
}
