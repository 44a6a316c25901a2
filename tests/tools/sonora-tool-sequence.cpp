// sonora-tool's sequencer command (dispatched from sonora-tool.cpp with argv[0] = the command):
//
//   sonora-tool sequence SMF OUT --soundfont SF2 [--program P] [--seconds S] [--trace FILE] [--realtime]
//        one MIDISampler per track of the Standard MIDI File (the SoundFont's melodic program P,
//        0 by default; a track without channel messages gets a sampler with no instrument) under a
//        Mixer as the engine's output, played by a Sequencer loaded with the file: the file's tempo
//        (120 without), no looping, the longest track's length, from the beginning. Renders offline
//        in 512-frame cycles into OUT (32-bit float, 44100 Hz stereo) for the length and 2 s more,
//        at most S seconds, and prints "tracks N tempo T length L". A render that would not fit in
//        the free space of OUT's file system is refused before anything is written.
//        --trace FILE: one line per MIDI message a sampler got, "TRACK FRAME HEX HEX HEX" (FRAME =
//        the cycle's first frame + the message's offset in it).
//        --realtime: the same graph, already playing when the engine starts, on the output device
//        for as long; OUT holds the device's capture.
//
// Exit status: 0 on success, 1 on an error (one line on stderr), 2 on bad arguments.

#include "ToolRender.h"
#include "ToolSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/MIDI/MIDIFile/MIDIFile.h"
#include "Sonora/MIDI/MIDISampler.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "SonoraEX/Sequencing/Sequencer.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

int sequenceCommand(int argc, char** argv);

namespace {

constexpr double kRate = 44100;

int sequenceUsage() {
    return tool::printUsage(
        "usage: sonora-tool sequence SMF OUT --soundfont SF2 [--program P] [--seconds S] [--trace FILE] [--realtime]\n");
}

struct TraceLine {
    size_t track;
    int64_t frame;
    uint8_t bytes[3];
};

}  // namespace

int sequenceCommand(int argc, char** argv) {
    std::vector<std::string> positional;
    std::string soundFont;
    std::string tracePath;
    int program = 0;
    std::optional<double> seconds;
    bool realtime = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--realtime") {
            realtime = true;
        } else if (arg == "--soundfont" || arg == "--program" || arg == "--trace" || arg == "--seconds") {
            if (++i >= argc) return sequenceUsage();
            if (arg == "--seconds") {
                seconds = tool::parseNonNegative(argv[i]);
                if (!seconds) return sequenceUsage();
            } else if (arg == "--soundfont") {
                soundFont = argv[i];
            } else if (arg == "--trace") {
                tracePath = argv[i];
            } else {
                const auto value = tool::parseCount(argv[i]);
                if (!value || *value > 127) return sequenceUsage();
                program = int(*value);
            }
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || soundFont.empty()) return sequenceUsage();
    const std::string& out = positional[1];

    const sonora::MIDIFile file{std::filesystem::path(positional[0])};
    if (file.chunks.empty()) {
        tool::printError("cannot read a MIDI file from " + positional[0]);
        return 1;
    }
    const auto fileTracks = file.tracks();
    double tempo = 120;
    if (const auto tempoTrack = file.tempoTrack()) tempo = tempoTrack->tempo();
    double length = 0;
    for (const auto& track : fileTracks) length = std::max(length, track.length());

    // The trace: every message the sequencer hands a sampler, at its frame.
    std::vector<TraceLine> trace;
    int64_t cycleStart = 0;
    std::vector<std::shared_ptr<sonora::Node>> samplers;
    for (size_t t = 0; t < fileTracks.size(); ++t) {
        auto sampler = std::make_shared<sonora::MIDISampler>("track " + std::to_string(t + 1));
        // A track that sends no channel message never sounds: its sampler needs no synthesizer (the
        // first loads the SoundFont all the same, so that a bad one is reported for any file).
        if (t == 0 || !fileTracks[t].channelEvents().empty()) {
            try {
                // The loader takes the bank's path without its extension.
                const std::filesystem::path bank = std::filesystem::absolute(soundFont);
                sampler->loadMelodicSoundFont((bank.parent_path() / bank.stem()).string(), program);
            } catch (const platform::NSErrorException& error) {
                tool::printError(error.error());
                return 1;
            }
        }
        if (!tracePath.empty()) {
            const auto unit = sampler->avAudioNode()->auAudioUnit();
            auto block = unit->scheduleMIDIEventBlock();
            trace.reserve(1 << 16);
            unit->setScheduleMIDIEventBlock([block, t, &trace, &cycleStart](platform::AUEventSampleTime time, uint8_t cable,
                                                                              platform::NSInteger count, const uint8_t* bytes) {
                if (count >= 3)
                    trace.push_back({t, cycleStart + (time - platform::AUEventSampleTimeImmediate), {bytes[0], bytes[1], bytes[2]}});
                block(time, cable, count, bytes);
            });
        }
        samplers.push_back(std::move(sampler));
    }

    auto mixer = std::make_shared<sonora::Mixer>(samplers);
    sonora::AudioEngine engine;
    engine.setOutput(mixer);
    sonora::Sequencer sequencer(samplers);
    sequencer.load(file);
    sequencer.setTempo(tempo);
    sequencer.setLoopEnabled(false);
    sequencer.setLength(length);
    sequencer.playFromBeginning();
    std::printf("tracks %zu tempo %.17g length %.17g\n", fileTracks.size(), tempo, length);
    std::fflush(stdout);

    try {
        const int64_t frames = tool::renderFrames(out, length / tempo * 60 + 2, seconds, kRate);
        if (realtime) {
            tool::playAndCapture(engine, *mixer, frames, kRate, out);
        } else {
            const auto output = platform::AVAudioFile::forWriting(out, tool::floatStereoSettings(kRate));
            tool::renderInSlices(engine, frames, *output, [&cycleStart](int64_t start) { cycleStart = start; });
            output->close();
        }
    } catch (const platform::NSErrorException& error) {
        tool::printError(error.error());
        return 1;
    } catch (const std::exception& error) {
        tool::printError(error.what());
        return 1;
    }

    if (!tracePath.empty()) {
        std::FILE* traceFile = std::fopen(tracePath.c_str(), "w");
        if (!traceFile) {
            tool::printError("cannot write " + tracePath);
            return 1;
        }
        for (const TraceLine& line : trace)
            std::fprintf(traceFile, "%zu %lld %02X %02X %02X\n", line.track + 1, static_cast<long long>(line.frame),
                         line.bytes[0], line.bytes[1], line.bytes[2]);
        std::fclose(traceFile);
    }
    return 0;
}
