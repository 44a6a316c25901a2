// The sampler against FluidSynth's own player, measured in the same run: `sonora-tool
// sampler-render` of a six-note chord held 60 s on the General MIDI SoundFont (an AppleSampler as
// the engine's output, rendered offline in 512-frame calls into a 32-bit float stereo WAV) against
// `fluidsynth -ni -R 0 -C 0 -F` playing a MIDI file of the same chord into the same format. Each
// figure is the best of three whole-process runs; ratio = ours / fluidsynth (goal <= 1.5). A second
// line renders a sound-file zone instrument (the same chord from one sine file) against the same peer.
#include "BenchSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace bench;

namespace {

const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const int kNotes[] = {48, 52, 55, 60, 64, 67};

// Format 0, 96 ticks a beat, 120 BPM: the chord at tick 0, released at 60 s (11520 ticks).
void writeChord(const std::filesystem::path& path) {
    std::vector<unsigned char> track;
    for (int note : kNotes) track.insert(track.end(), {0x00, 0x90, (unsigned char)note, 100});
    const unsigned delta = 11520;
    track.insert(track.end(), {(unsigned char)(0x80 | (delta >> 14)), (unsigned char)(0x80 | ((delta >> 7) & 0x7F)),
                               (unsigned char)(delta & 0x7F)});
    bool first = true;
    for (int note : kNotes) {
        if (!first) track.push_back(0x00);
        first = false;
        track.insert(track.end(), {0x80, (unsigned char)note, 0});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<unsigned char> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
    const size_t n = track.size();
    file.insert(file.end(), {(unsigned char)(n >> 24), (unsigned char)(n >> 16), (unsigned char)(n >> 8), (unsigned char)n});
    file.insert(file.end(), track.begin(), track.end());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
}

}  // namespace

int main() {
    if (!haveTool("fluidsynth") || !haveTool("sox") || !std::filesystem::exists(kSoundFont)) {
        std::fprintf(stderr, "sampler_bench: needs fluidsynth, sox and %s\n", kSoundFont);
        return 1;
    }
    const std::filesystem::path dir = makeFixtureFolder();
    std::printf("fixtures in %s\n", dir.c_str());
    writeChord(dir / "chord.mid");
    mustRun("sox -n -r 44100 " + q(dir / "sine.wav") + " synth 2 sine 440", Output::hidden);
    std::string notes;
    for (int note : kNotes) notes += " --note " + std::to_string(note);
    const std::string tool = q(SONORA_TOOL_PATH);

    const double peer = bestCommand("fluidsynth -ni -q -R 0 -C 0 -r 44100 -O float -F " + q(dir / "peer.wav") + " " +
                                        q(kSoundFont) + " " + q(dir / "chord.mid"),
                                    Output::hidden);
    const double ours = bestCommand(tool + " sampler-render " + q(dir / "ours.wav") + " --seconds 60 --soundfont " +
                                        q(kSoundFont) + notes,
                                    Output::hidden);
    const double zones = bestCommand(tool + " sampler-render " + q(dir / "zones.wav") + " --seconds 60 --audio " +
                                         q(dir / "sine.wav") + notes,
                                     Output::hidden);
    std::printf("%-44s %-10s ratio %6.3f (goal <= 1.5)   ours %8.3f s   fluidsynth %8.3f s\n",
                "SoundFont chord of 6 notes, 60 s", "fluidsynth", ours / peer, ours, peer);
    std::printf("%-44s %-10s ratio %6.3f                 ours %8.3f s   fluidsynth %8.3f s\n",
                "sound-file zones, the same chord, 60 s", "fluidsynth", zones / peer, zones, peer);
    return 0;
}
