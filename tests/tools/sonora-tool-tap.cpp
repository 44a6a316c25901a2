// sonora-tool's tap and recorder commands (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool tap amplitude|fft|raw IN [--buffer N] [--mode rms|peak] [--stereo left|right|center]
//                  [--bins N] [--padding F] [--not-normalized] [--realtime]
//        IN (44100 Hz, mono or stereo) plays from frame 0 through a source node, the engine's
//        output, rendered offline in calls of 512 frames (--realtime: on the null device). A tap
//        on the source prints one line per handler call ("%.9g" values, space-separated) for the
//        floor(length / N) buffers that cover IN; N defaults to 1024. An N longer than IN is
//        refused as a bad argument.
//   sonora-tool record IN OUT [--duration S] [--realtime]
//        A NodeRecorder on the source node records into OUT (.caf: 32-bit float, .wav: 24-bit;
//        44100 Hz stereo) for IN's length or until S seconds; prints recordedDuration.
//   sonora-tool record-input --input FILE --channels 0,2 --dir DIR [--latency N] [--realtime]
//        The input node is fed by FILE (offline: the manual rendering input block at FILE's rate;
//        --realtime: the null input playing FILE). A MultiChannelInputNodeTap records the channels
//        into DIR ("Audio <c + 1> #<n>.wav", 24-bit) until its delegate has seen the 2048-frame
//        buffers that cover FILE; prints the paths of the files made. A channel whose file could
//        not be made (an unwritable folder, every name taken) records nothing and is named on
//        stderr, and the exit status is 1.
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Taps/AmplitudeTap.h"
#include "Sonora/Taps/FFTTap.h"
#include "Sonora/Taps/MultiChannelInputNodeTap.h"
#include "Sonora/Taps/NodeRecorder.h"
#include "Sonora/Taps/RawDataTap.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/coreaudio/AudioDeviceRegistry.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

int tapCommand(int argc, char** argv);
int recordCommand(int argc, char** argv);
int recordInputCommand(int argc, char** argv);

namespace {

constexpr platform::AVAudioFrameCount kCycle = 512;

// --name value pairs and bare flags after the positional arguments; nullopt on a malformed line.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool realtime = false;
    bool notNormalized = false;
};

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--realtime") a.realtime = true;
        else if (arg == "--not-normalized") a.notNormalized = true;
        else if (arg.starts_with("--")) {
            if (i + 1 >= argc) return std::nullopt;
            a.options[arg] = argv[++i];
        } else a.positional.push_back(arg);
    }
    return a;
}

// Renders the engine offline for `total` frames in 512-frame calls, or plays it on the null
// device until `done` (or a little past the length); the main queue is pumped throughout.
void run(sonora::AudioEngine& engine, platform::AVAudioFramePosition total, bool realtime, const std::function<bool()>& done) {
    const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(tool::kInputRate, 2);
    if (!realtime) {
        engine.avEngine()->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, kCycle);
        engine.start();
        auto buffer = platform::AVAudioPCMBuffer::make(format, kCycle);
        for (platform::AVAudioFramePosition at = 0; at < total && !done(); at += kCycle) {
            const auto n = platform::AVAudioFrameCount(std::min<platform::AVAudioFramePosition>(kCycle, total - at));
            engine.avEngine()->renderOffline(n, *buffer);
            platform::DispatchQueue::pumpMainQueue();
        }
    } else {
        const auto stream = engine.avEngine()->outputNode()->deviceStream();
        stream->open(stream->deviceID(), tool::kInputRate, 2, kCycle);
        engine.start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(double(total) / tool::kInputRate + 10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            platform::DispatchQueue::pumpMainQueue();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    platform::DispatchQueue::pumpMainQueue();
}

std::string line(const std::vector<float>& values) {
    std::string text;
    char number[32];
    for (size_t i = 0; i < values.size(); ++i) {
        std::snprintf(number, sizeof number, "%.9g", double(values[i]));
        if (i) text += ' ';
        text += number;
    }
    return text;
}

int tapUsage() {
    return tool::printUsage("usage: sonora-tool tap amplitude|fft|raw IN [--buffer N] [--mode rms|peak] [--stereo left|right|center]\n"
                            "                      [--bins N] [--padding F] [--not-normalized] [--realtime]\n");
}

int recordUsage() { return tool::printUsage("usage: sonora-tool record IN OUT [--duration S] [--realtime]\n"); }

int recordInputUsage() {
    return tool::printUsage("usage: sonora-tool record-input --input FILE --channels C[,C...] --dir DIR [--latency N] [--realtime]\n");
}

}  // namespace

int tapCommand(int argc, char** argv) {
    const auto args = parseArguments(argc, argv);
    if (!args || args->positional.size() != 2) return tapUsage();
    const std::string kind = args->positional[0];
    uint32_t bufferSize = 1024;
    bool bufferGiven = false;
    uint32_t padding = 0;
    std::optional<sonora::FFTValidBinCount> bins;
    auto mode = sonora::AnalysisMode::rms;
    auto stereo = sonora::StereoMode::center;
    for (const auto& [name, value] : args->options) {
        if (name == "--buffer") {
            const auto n = tool::parseCount(value);
            if (!n || *n == 0) return tapUsage();
            bufferSize = *n;
            bufferGiven = true;
        } else if (name == "--padding") {
            const auto n = tool::parseCount(value);
            if (!n) return tapUsage();
            padding = *n;
        } else if (name == "--bins") {
            const auto n = tool::parseNumber(value);
            bins = n ? sonora::fftValidBinCount(*n) : std::nullopt;
            if (!bins) {
                tool::printError("--bins takes 2, 4, ... 8192, not " + value);
                return tapUsage();
            }
        } else if (name == "--mode" && (value == "rms" || value == "peak")) {
            mode = value == "rms" ? sonora::AnalysisMode::rms : sonora::AnalysisMode::peak;
        } else if (name == "--stereo" && (value == "left" || value == "right" || value == "center")) {
            stereo = value == "left" ? sonora::StereoMode::left : value == "right" ? sonora::StereoMode::right : sonora::StereoMode::center;
        } else {
            return tapUsage();
        }
    }
    if (kind != "amplitude" && kind != "fft" && kind != "raw") return tapUsage();

    auto input = tool::readInput(args->positional[1]);
    const auto total = platform::AVAudioFramePosition(input[0].size());
    // The tap holds several buffers at once: a buffer longer than the input would cost memory
    // many times the input's and still deliver nothing.
    if (bufferGiven && bufferSize > total) {
        tool::printError("--buffer " + std::to_string(bufferSize) + " is longer than " + args->positional[1] + " (" +
                         std::to_string(total) + " frames): no buffer would be delivered");
        return tapUsage();
    }
    const size_t wanted = size_t(total / bufferSize);
    auto source = std::make_shared<tool::BufferSource>(std::move(input));
    size_t printed = 0;
    auto print = [&](const std::vector<float>& values) {
        if (printed >= wanted) return;
        std::cout << line(values) << "\n";
        ++printed;
    };
    std::shared_ptr<sonora::BaseTap> tap;
    if (kind == "amplitude") {
        tap = std::make_shared<sonora::AmplitudeTap>(source, bufferSize, stereo, mode, [&](float v) { print({v}); });
    } else if (kind == "raw") {
        tap = std::make_shared<sonora::RawDataTap>(source, bufferSize, print);
    } else {
        auto fft = std::make_shared<sonora::FFTTap>(source, bufferSize, bins, print);
        fft->isNormalized = !args->notNormalized;
        fft->zeroPaddingFactor = padding;
        tap = fft;
    }
    sonora::AudioEngine engine;
    engine.setOutput(source);
    tap->start();
    run(engine, total, args->realtime, [&] { return printed >= wanted; });
    tap->stop();
    engine.stop();
    std::cout.flush();
    return 0;
}

int recordCommand(int argc, char** argv) {
    const auto args = parseArguments(argc, argv);
    if (!args || args->positional.size() != 2 || args->notNormalized) return recordUsage();
    double duration = 0;
    for (const auto& [name, value] : args->options) {
        const auto seconds = tool::parseNonNegative(value);
        if (name != "--duration" || !seconds) return recordUsage();
        duration = *seconds;
    }
    auto input = tool::readInput(args->positional[0]);
    const auto total = platform::AVAudioFramePosition(input[0].size());
    auto source = std::make_shared<tool::BufferSource>(std::move(input));

    const std::string out = args->positional[1];
    platform::AVAudioSettings settings = tool::floatStereoSettings(tool::kInputRate);
    if (std::filesystem::path(out).extension() == ".wav") {
        settings[platform::AVLinearPCMBitDepthKey] = 24;
        settings[platform::AVLinearPCMIsFloatKey] = 0;
    }
    sonora::AudioEngine engine;
    engine.setOutput(source);
    auto recorder = std::make_shared<sonora::NodeRecorder>(source, platform::AVAudioFile::forWriting(out, settings));
    recorder->setDurationToRecord(duration);
    recorder->record();
    // Without a duration: IN's length (the last, shorter buffer comes when the tap is removed).
    run(engine, total, args->realtime, [&] { return !recorder->isRecording(); });
    if (recorder->isRecording()) recorder->stop();
    engine.stop();
    std::printf("%.9g\n", recorder->recordedDuration());
    return 0;
}

namespace {

// Counts the processed buffers and ends the take once they cover the input.
class TakeDelegate : public sonora::MultiChannelInputNodeTapDelegate {
public:
    explicit TakeDelegate(size_t wanted) : wanted_(wanted) {}
    void tapDidInstall(sonora::MultiChannelInputNodeTap&) override {}
    void tapDidRemove(sonora::MultiChannelInputNodeTap&) override {}
    void didProcess(sonora::MultiChannelInputNodeTap& sender, uint32_t, const platform::AVAudioTime&) override {
        if (seen_.fetch_add(1) + 1 == wanted_) {
            sender.stop();
            done_.store(true);
        }
    }
    bool done() const { return done_.load(); }

private:
    const size_t wanted_;
    std::atomic<size_t> seen_{0};
    std::atomic<bool> done_{false};
};

}  // namespace

int recordInputCommand(int argc, char** argv) {
    const auto args = parseArguments(argc, argv);
    if (!args || !args->positional.empty() || args->notNormalized) return recordInputUsage();
    std::string inputPath, directory;
    std::vector<int32_t> channels;
    uint32_t latency = 0;
    for (const auto& [name, value] : args->options) {
        if (name == "--input") inputPath = value;
        else if (name == "--dir") directory = value;
        else if (name == "--latency") {
            const auto n = tool::parseCount(value);
            if (!n) return recordInputUsage();
            latency = *n;
        } else if (name == "--channels") {
            std::stringstream list(value);
            for (std::string item; std::getline(list, item, ',');) {
                const auto c = tool::parseCount(item);
                if (!c || *c > 0x7FFFFFFE) return recordInputUsage();
                channels.push_back(int32_t(*c));
            }
        } else {
            return recordInputUsage();
        }
    }
    if (inputPath.empty() || directory.empty() || channels.empty()) return recordInputUsage();
    std::filesystem::create_directories(directory);

    const auto file = platform::AVAudioFile::forReading(inputPath);
    const auto fileFormat = file->processingFormat();
    const auto total = file->length();
    constexpr uint32_t kBufferSize = 2048;
    const size_t wanted = size_t(total / kBufferSize);

    auto engine = platform::AVAudioEngine::make();
    auto block = platform::AVAudioPCMBuffer::make(fileFormat, 8192);
    if (args->realtime) {
        if (!platform::AudioDeviceRegistry::setNullInputFile(inputPath)) throw std::runtime_error("cannot play " + inputPath);
    }
    auto input = engine->inputNode();
    if (!args->realtime) {
        engine->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline,
                                          platform::AVAudioFormat::standardFormatWithSampleRate(fileFormat.sampleRate(), 2), kCycle);
        // The file, block by block; silence once it is read.
        input->setManualRenderingInputPCMFormat(fileFormat, [&](platform::AVAudioFrameCount frames) -> const platform::AudioBufferList* {
            file->read(*block, std::min(frames, block->frameCapacity()));
            const platform::AVAudioFrameCount got = block->frameLength();
            for (uint32_t c = 0; c < fileFormat.channelCount(); ++c)
                std::fill(block->floatChannelData()[c] + got, block->floatChannelData()[c] + frames, 0.0f);
            return block->audioBufferList();
        });
    }
    auto delegate = std::make_shared<TakeDelegate>(wanted);
    auto recorder = std::make_shared<sonora::MultiChannelInputNodeTap>(input);
    recorder->directory = platform::URL(std::filesystem::path(directory));
    recorder->ioLatency = latency;
    recorder->delegate = delegate;
    recorder->prepare(channels);
    // An empty input still makes its (empty) files.
    recorder->record();
    if (wanted > 0) {
        engine->start();
        if (!args->realtime) {
            auto out = platform::AVAudioPCMBuffer::make(engine->manualRenderingFormat(), kCycle);
            for (platform::AVAudioFramePosition at = 0; at < total && !delegate->done(); at += kCycle)
                engine->renderOffline(kCycle, *out);
        } else {
            const auto deadline = std::chrono::steady_clock::now() +
                                  std::chrono::duration<double>(double(total) / fileFormat.sampleRate() + 10);
            while (!delegate->done() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        engine->stop();
    }
    const auto files = recorder->files();
    recorder->setRecordEnabled(false);
    if (recorder->isRecording()) recorder->stop();
    platform::AudioDeviceRegistry::setNullInputFile({});

    // Only files that were made are printed; every channel without one is named on stderr.
    std::vector<int32_t> unnamed = channels;
    std::vector<std::string> failures;
    for (const auto& f : files) {
        const auto at = std::find(unnamed.begin(), unnamed.end(), f->channel);
        if (at != unnamed.end()) unnamed.erase(at);
        std::error_code error;
        if (std::filesystem::is_regular_file(f->url.filePath(), error)) std::cout << f->url.path() << "\n";
        else failures.push_back("channel " + std::to_string(f->channel) + ": could not create " + f->url.path());
    }
    for (const int32_t c : unnamed)
        failures.push_back("channel " + std::to_string(c) + ": no free file name in " + directory + " (\"Audio " +
                           std::to_string(int64_t(c) + 1) + " #1\" to \"#10000\" are taken)");
    std::cout.flush();
    if (!failures.empty()) {
        for (const auto& failure : failures) tool::printError(failure);
        return 1;
    }
    if (!delegate->done() && wanted > 0) throw std::runtime_error("the input did not deliver all its buffers in time");
    return 0;
}
