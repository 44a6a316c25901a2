// The sequencer, measured in one run:
// - a whole MIDI file rendered offline through Sequencer and FluidSynth samplers (`sonora-tool
//   sequence FILE OUT --soundfont SF`, one sampler per track, 512-frame cycles) against FluidSynth's
//   own player (`fluidsynth -ni -R 0 -C 0 -F OUT SF FILE`) on the same file and SoundFont; ratio =
//   ours / fluidsynth (goal <= 1.0). The file is music001.mid when the machine has it, else the
//   largest corpus file found;
// - the engine's process step with 1k, 10k and 100k events at 512 frames, as a share of the
//   cycle's duration at 44100 Hz (goal: 10k <= 1 %, and flat from 1k to 100k);
// - publishing 10k events: ordering a 5000-note sequence and handing it to the engine (ms).
#include "BenchSupport.h"

#include "SonoraEX/Sequencing/NoteEventSequence.h"
#include "SonoraEX/Sequencing/SequencerEngine.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace bench;

namespace {

const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

std::filesystem::path corpusFile() {
    for (const char* path : {"/usr/share/planetblupi/music/music001.mid",
                             "/usr/share/games/openttd/baseset/openmsx/keep_on_rolling.mid"})
        if (std::filesystem::exists(path)) return path;
    return {};
}

// Events spread evenly over a loop of `count` beats at 120 BPM: two a beat, half on, half off.
std::vector<sonora::SequenceEvent> spread(size_t count) {
    std::vector<sonora::SequenceEvent> events;
    for (size_t i = 0; i < count; ++i)
        events.push_back({uint8_t(i % 2 ? 0x80 : 0x90), uint8_t(36 + i % 48), 100, double(i) / 2});
    return events;
}

// Seconds per process step over many cycles, the engine playing through the events.
double processStep(size_t count) {
    const auto events = spread(count);
    size_t sent = 0;
    platform::AUScheduleMIDIEventBlock block = [&sent](platform::AUEventSampleTime, uint8_t, platform::NSInteger,
                                                       const uint8_t*) { ++sent; };
    auto engine = sonora::akSequencerEngineCreate();
    auto observer = sonora::akSequencerEngineUpdateSequence(engine, events.data(), events.size(), block,
                                                            {1, double(count) / 2, 120, true}, 44100);
    sonora::akSequencerEngineSetPlaying(engine, true);
    const int cycles = count >= 100000 ? 400 : 4000;
    const double elapsed = best([&] {
        for (int i = 0; i < cycles; ++i) observer(platform::kAudioUnitRenderAction_PreRender, nullptr, 512, 0);
    });
    sonora::akSequencerEngineRelease(engine);
    return elapsed / cycles;
}

}  // namespace

int main() {
    const auto file = corpusFile();
    if (file.empty() || !haveTool("fluidsynth") || !std::filesystem::exists(kSoundFont)) {
        std::fprintf(stderr, "sequencing_bench: needs fluidsynth, %s and a MIDI file\n", kSoundFont);
        return 1;
    }
    const std::filesystem::path dir = makeFixtureFolder();
    std::printf("fixtures in %s\n", dir.c_str());
    const std::string tool = q(SONORA_TOOL_PATH);
    const double ours = bestCommand(tool + " sequence " + q(file) + " " + q(dir / "ours.wav") + " --soundfont " + q(kSoundFont),
                                    Output::hidden);
    const double peer = bestCommand("fluidsynth -ni -R 0 -C 0 -F " + q(dir / "fluidsynth.wav") + " " + q(kSoundFont) + " " +
                                        q(file),
                                    Output::hidden);
    std::printf("%-44s %-10s ratio %6.3f (goal <= 1.0)   ours %8.3f s   fluidsynth %8.3f s\n",
                ("offline render of " + file.filename().string()).c_str(), "fluidsynth", ours / peer, ours, peer);

    const double cycle = 512.0 / 44100;
    for (size_t count : {size_t(1000), size_t(10000), size_t(100000)}) {
        const double step = processStep(count);
        std::printf("%-44s %8.3f %% of a 512-frame cycle (%7.2f us)%s\n",
                    ("process step, " + std::to_string(count) + " events").c_str(), 100 * step / cycle, step * 1e6,
                    count == 10000 ? "   (goal <= 1 %)" : "");
    }

    sonora::NoteEventSequence sequence;
    for (int i = 0; i < 5000; ++i) sequence.addNote(uint8_t(36 + i % 48), 100, double((i * 7919) % 5000) / 4, 0.5);
    auto engine = sonora::akSequencerEngineCreate();
    const double publish = best([&] {
        const auto ordered = sequence.orderedEvents();
        sonora::akSequencerEngineUpdateSequence(engine, ordered.data(), ordered.size(), nullptr, {1, 1250, 120, true},
                                                44100);
    });
    sonora::akSequencerEngineRelease(engine);
    std::printf("%-44s %8.3f ms\n", "publishing 10k events (order + publish)", publish * 1e3);
    return 0;
}
