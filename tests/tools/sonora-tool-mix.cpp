// sonora-tool's engine commands (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool mix OUT [--float|--bits 16|24|32] --clip FILE@START[:GAIN] ...
//        plays each clip from START seconds at GAIN (default 1) through a player node under a
//        Mixer set as the engine's output, and renders the mix offline in 4096-frame chunks into
//        a 44100 Hz stereo file (CAF unless OUT names another container), float by default
//   sonora-tool mix --tree OUT --clip ...    prints the engine's node tree instead of rendering
//   sonora-tool devices                      one line per audio device: id, name, channel counts
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Hardware/Device.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPlayerNode.h"
#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/foundation/NSError.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

int mixCommand(int argc, char** argv);
int devicesCommand(int argc, char** argv);

namespace {

constexpr double kMixRate = 44100;
constexpr platform::AVAudioFrameCount kChunkFrames = 4096;

int mixUsage() {
    return tool::printUsage(
        "usage: sonora-tool mix [--tree] OUT [--float|--bits 16|24|32] --clip FILE@START[:GAIN] ...\n");
}

struct ClipArgument {
    std::string path;
    double start = 0;
    float gain = 1;
};

// FILE@START[:GAIN].
std::optional<ClipArgument> parseClip(const std::string& text) {
    const auto parts = tool::splitClip(text);
    if (!parts) return std::nullopt;
    ClipArgument clip;
    clip.path = parts->first;
    std::string timing = parts->second;
    if (const auto colon = timing.find(':'); colon != std::string::npos) {
        const auto gain = tool::parseNonNegative(timing.substr(colon + 1));
        if (!gain) return std::nullopt;
        clip.gain = float(*gain);
        timing.resize(colon);
    }
    const auto start = tool::parseNonNegative(timing);
    if (!start) return std::nullopt;
    clip.start = *start;
    return clip;
}

// One clip: a platform player node that plays its file from a frame of the mix.
class ClipPlayer : public sonora::Node {
public:
    ClipPlayer(std::shared_ptr<platform::AVAudioFile> file, platform::AVAudioFramePosition startFrame, float gain)
        : file_(std::move(file)), startFrame_(startFrame) {
        player_->setVolume(gain);
    }
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return player_; }

    // Frames of the mix the clip reaches, at the mix rate.
    platform::AVAudioFramePosition endFrame() const {
        const double rate = file_->processingFormat().sampleRate();
        return startFrame_ + platform::AVAudioFramePosition(std::llround(double(file_->length()) * kMixRate / rate));
    }
    void schedule() {
        player_->scheduleFile(file_, platform::AVAudioTime(startFrame_, kMixRate));
        player_->play();
    }

private:
    std::shared_ptr<platform::AVAudioPlayerNode> player_ = std::make_shared<platform::AVAudioPlayerNode>();
    std::shared_ptr<platform::AVAudioFile> file_;
    platform::AVAudioFramePosition startFrame_;
};

platform::AVAudioSettings outputSettings(bool isFloat, int bits) {
    return {
        {platform::AVFormatIDKey, double(platform::kAudioFormatLinearPCM)},
        {platform::AVSampleRateKey, kMixRate},
        {platform::AVNumberOfChannelsKey, 2},
        {platform::AVLinearPCMBitDepthKey, double(bits)},
        {platform::AVLinearPCMIsFloatKey, isFloat ? 1.0 : 0.0},
    };
}

}  // namespace

int mixCommand(int argc, char** argv) {
    bool tree = false;
    bool isFloat = true;
    int bits = 32;
    std::optional<std::string> out;
    std::vector<ClipArgument> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tree") {
            tree = true;
        } else if (arg == "--float") {
            isFloat = true;
            bits = 32;
        } else if (arg == "--bits") {
            if (++i >= argc) return mixUsage();
            const std::string value = argv[i];
            if (value != "16" && value != "24" && value != "32") return mixUsage();
            isFloat = false;
            bits = std::stoi(value);
        } else if (arg == "--clip") {
            if (++i >= argc) return mixUsage();
            const auto clip = parseClip(argv[i]);
            if (!clip) {
                tool::printError(std::string("a clip is FILE@START[:GAIN] with START and GAIN at least 0, not ") +
                                 argv[i]);
                return mixUsage();
            }
            arguments.push_back(*clip);
        } else if (!out && !arg.starts_with("--")) {
            out = arg;
        } else {
            return mixUsage();
        }
    }
    if (!out || arguments.empty()) return mixUsage();

    std::vector<std::shared_ptr<ClipPlayer>> clips;
    std::vector<std::shared_ptr<sonora::Node>> inputs;
    platform::AVAudioFramePosition endFrame = 0;
    for (const ClipArgument& argument : arguments) {
        auto clip = std::make_shared<ClipPlayer>(platform::AVAudioFile::forReading(argument.path),
                                                 sonora::secondsToFrame(argument.start, kMixRate).value_or(0),
                                                 argument.gain);
        endFrame = std::max(endFrame, clip->endFrame());
        clips.push_back(clip);
        inputs.push_back(clip);
    }

    sonora::AudioEngine engine;
    engine.setOutput(std::make_shared<sonora::Mixer>(inputs));
    if (tree) {
        std::cout << engine.connectionTreeDescription() << "\n";
        return 0;
    }

    const auto file = platform::AVAudioFile::forWriting(*out, outputSettings(isFloat, bits));
    engine.renderToFile(*file, kChunkFrames, double(endFrame) / kMixRate, [&] {
        for (const auto& clip : clips) clip->schedule();
    });
    file->close();
    return 0;
}

int devicesCommand(int argc, char** /*argv*/) {
    if (argc != 1) return tool::printUsage("usage: sonora-tool devices\n");
    for (const sonora::Device& device : sonora::AudioEngine::allDevices()) {
        std::cout << device.deviceID << "\t" << device.name << "\tinputs " << device.inputChannelCount.value_or(0)
                  << "\toutputs " << device.outputChannelCount.value_or(0) << "\n";
    }
    return 0;
}
