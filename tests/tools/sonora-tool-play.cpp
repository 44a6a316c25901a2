// sonora-tool's real-time playback command (dispatched from sonora-tool.cpp with argv[0] = "play"):
//
//   sonora-tool play [--capture F] --seconds S --clip FILE@START ...
//        one AudioPlayer per clip under a Mixer set as the engine's output; each plays its file
//        from its beginning at host time now + START; the engine runs S seconds on the output
//        device (the null device writes what it plays to F with --capture)
//   sonora-tool play [--capture F] --loop FILE --seconds S
//        one looping AudioPlayer; prints "completion" each time its completion handler runs
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Utilities/AVAudioTimeArithmetic.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

int playCommand(int argc, char** argv);

namespace {

int playUsage() {
    return tool::printUsage("usage: sonora-tool play [--capture F] --seconds S --clip FILE@START ...\n"
                            "       sonora-tool play [--capture F] --loop FILE --seconds S\n");
}

struct Clip {
    std::string path;
    double start = 0;
};

// FILE@START.
std::optional<Clip> parseClip(const std::string& text) {
    const auto parts = tool::splitClip(text);
    if (!parts) return std::nullopt;
    const auto start = tool::parseNonNegative(parts->second);
    if (!start) return std::nullopt;
    return Clip{parts->first, *start};
}

}  // namespace

int playCommand(int argc, char** argv) {
    std::optional<std::string> capture;
    std::optional<std::string> loop;
    std::optional<double> seconds;
    std::vector<Clip> clips;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return playUsage();
        const std::string value = argv[++i];
        if (arg == "--capture") {
            capture = value;
        } else if (arg == "--loop") {
            loop = value;
        } else if (arg == "--seconds") {
            seconds = tool::parseNonNegative(value);
            if (!seconds) {
                tool::printError("--seconds takes a number of seconds, not " + value);
                return playUsage();
            }
        } else if (arg == "--clip") {
            const auto clip = parseClip(value);
            if (!clip) {
                tool::printError("a clip is FILE@START with START at least 0, not " + value);
                return playUsage();
            }
            clips.push_back(*clip);
        } else {
            return playUsage();
        }
    }
    if (!seconds || clips.empty() == !loop) return playUsage();

    std::vector<std::shared_ptr<sonora::AudioPlayer>> players;
    if (loop) {
        auto player = std::make_shared<sonora::AudioPlayer>(platform::AVAudioFile::forReading(*loop));
        player->setIsLooping(true);
        player->setCompletionHandler([] { std::cout << "completion" << std::endl; });
        players.push_back(player);
    } else {
        for (const Clip& clip : clips)
            players.push_back(std::make_shared<sonora::AudioPlayer>(platform::AVAudioFile::forReading(clip.path)));
    }

    sonora::AudioEngine engine;
    if (loop) {
        engine.setOutput(players.front());
    } else {
        engine.setOutput(std::make_shared<sonora::Mixer>(std::vector<std::shared_ptr<sonora::Node>>(players.begin(), players.end())));
    }
    if (capture) engine.avEngine()->outputNode()->deviceStream()->startCapture(*capture);
    engine.start();
    if (!engine.avEngine()->isRunning()) {
        tool::printError("the engine did not start");
        return 1;
    }

    if (loop) {
        players.front()->play();
    } else {
        // One "now" for every clip, so that their distances are exactly those asked for.
        const platform::AVAudioTime now = sonora::now();
        for (size_t i = 0; i < players.size(); ++i) players[i]->play(0.0, std::nullopt, now + clips[i].start);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(*seconds));

    for (const auto& player : players) player->stop();
    engine.stop();
    return 0;
}
