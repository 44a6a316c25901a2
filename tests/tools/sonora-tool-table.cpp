// sonora-tool's wavetable commands (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool table TYPE COUNT [--phase P]
//        the samples of a COUNT-sample table of that TableType case ("square", "positiveSine", ...),
//        "%.9g" each, on one line; COUNT at most 2^24 (16777216), as for --count
//   sonora-tool osc TYPE FREQ AMP SECONDS OUT [--count N] [--phase P] [--realtime]
//        a started PlaygroundOscillator over that table (4096 samples by default, at most 2^24) as
//        the engine's output, rendered offline in 512-frame calls into OUT (32-bit float, 44100 Hz
//        stereo; container by OUT's extension). With --realtime it plays SECONDS on the output device and
//        OUT holds the null device's capture of those frames.
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolRender.h"
#include "ToolSupport.h"

#include "Sonora/AudioFiles/AVAudioPCMBufferUtilities.h"
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Table/Table.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "Sonora/Nodes/Generators/PlaygroundOscillator.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

int tableCommand(int argc, char** argv);
int oscCommand(int argc, char** argv);

namespace {

constexpr double kRate = 44100;

int tableUsage() { return tool::printUsage("usage: sonora-tool table TYPE COUNT [--phase P]\n"); }

int oscUsage() {
    return tool::printUsage(
        "usage: sonora-tool osc TYPE FREQ AMP SECONDS OUT [--count N] [--phase P] [--realtime]\n");
}

// The oscillator finds a sample as float(count) × the phase's fraction of a cycle: a float carries 24
// bits, so a longer table has samples no phase reaches.
constexpr uint32_t kMostSamples = 1u << 24;

// A table's sample count, told on stderr when it is out of range.
std::optional<uint32_t> parseTableCount(const std::string& text) {
    const auto count = tool::parseCount(text);
    if (count && *count > kMostSamples) {
        tool::printError("a table holds at most " + std::to_string(kMostSamples) + " samples, not " + text);
        return std::nullopt;
    }
    return count;
}

std::optional<sonora::TableType> parseType(const std::string& text) {
    const auto type = sonora::TableType::named(text);
    if (!type) tool::printError("no table type " + text);
    return type;
}

}  // namespace

int tableCommand(int argc, char** argv) {
    if (argc != 3 && argc != 5) return tableUsage();
    const auto type = parseType(argv[1]);
    const auto count = parseTableCount(argv[2]);
    if (!type || !count) return tableUsage();
    float phase = 0;
    if (argc == 5) {
        const auto value = tool::parseNumber(argv[4]);
        if (std::string(argv[3]) != "--phase" || !value) return tableUsage();
        phase = float(*value);
    }
    const sonora::Table table(*type, phase, int64_t(*count));
    std::string line;
    char text[32];
    for (size_t i = 0; i < table.count(); ++i) {
        std::snprintf(text, sizeof text, "%.9g", double(table.content()[i]));
        if (i > 0) line += ' ';
        line += text;
    }
    std::printf("%s\n", line.c_str());
    return 0;
}

int oscCommand(int argc, char** argv) {
    std::vector<std::string> positional;
    uint32_t count = 4096;
    float phase = 0;
    bool realtime = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--realtime") {
            realtime = true;
        } else if (arg == "--count" || arg == "--phase") {
            if (++i >= argc) return oscUsage();
            if (arg == "--count") {
                const auto value = parseTableCount(argv[i]);
                if (!value) return oscUsage();
                count = *value;
            } else {
                const auto value = tool::parseNumber(argv[i]);
                if (!value) return oscUsage();
                phase = float(*value);
            }
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 5) return oscUsage();
    const auto type = parseType(positional[0]);
    const auto frequency = tool::parseNumber(positional[1]);
    const auto amplitude = tool::parseNumber(positional[2]);
    const auto seconds = tool::parseNonNegative(positional[3]);
    if (!type || !frequency || !amplitude || !seconds) return oscUsage();
    const std::string& out = positional[4];

    auto oscillator = std::make_shared<sonora::PlaygroundOscillator>(
        std::make_shared<sonora::Table>(*type, phase, int64_t(count)), float(*frequency), float(*amplitude));
    sonora::AudioEngine engine;
    engine.setOutput(oscillator);
    oscillator->start();
    if (realtime) {
        const auto frames = sonora::secondsToFrame(*seconds, kRate);
        if (!frames) return oscUsage();
        tool::playAndCapture(engine, *oscillator, *frames, kRate, out);
        return 0;
    }
    const auto frames = sonora::secondsToFrame(*seconds, kRate);
    if (!frames) return oscUsage();
    const auto file = platform::AVAudioFile::forWriting(out, tool::floatStereoSettings(kRate));
    tool::renderInSlices(engine, *frames, *file);
    file->close();
    return 0;
}
