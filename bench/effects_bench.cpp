// The effect nodes against sox measured in the same run, each on a 60-second stereo noise file,
// both sides writing 32-bit float WAV:
//   - `sonora-tool fx lowPassFilter` against `sox … lowpass` (goal ≤ 1.0×);
//   - `sonora-tool fx parametricEQ` against `sox … equalizer` (goal ≤ 1.0×);
//   - `sonora-tool fx compressor` against `sox … compand` (goal ≤ 1.5×).
#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fs = std::filesystem;
using namespace bench;

namespace {

void row(const char* what, double ours, double peer, const char* goal) {
    std::printf("%-52s ratio %6.3f   ours %7.3f s   sox %7.3f s   (goal <= %s)\n", what, ours / peer, ours, peer, goal);
    std::fflush(stdout);
}

}  // namespace

int main() {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 0);
    setenv("TAMBERLO_LOG_STDERR", "0", 0);
    if (!haveTool("sox")) {
        std::fprintf(stderr, "effects_bench: sox is needed\n");
        return 1;
    }
    const fs::path dir = makeFixtureFolder();
    const fs::path in = dir / "in.wav";
    mustRun("sox -n -r 44100 -c 2 -b 16 " + q(in) + " synth 60 whitenoise gain -10");
    std::printf("effects_bench: 60-second stereo 44.1 kHz noise\n");
    bestCommand("sox " + q(in) + " -n stat", Output::hidden);  // warm the page cache

    struct Case {
        const char* what;
        const char* node;
        const char* params;
        const char* sox;
        const char* goal;
    };
    const Case cases[] = {
        {"fx lowPassFilter vs sox lowpass 1000", "lowPassFilter",
         "--param cutoffFrequency=1000 --param resonance=-3.0103", "lowpass 1000 0.707107q", "1.0"},
        {"fx parametricEQ vs sox equalizer 2000 1q 6", "parametricEQ",
         "--param centerFreq=2000 --param q=1 --param gain=6", "equalizer 2000 1q 6", "1.0"},
        {"fx compressor vs sox compand", "compressor",
         "--param threshold=-20 --param headRoom=5 --param attackTime=0.001 --param releaseTime=0.05",
         "compand 0.001,0.05 6:-70,-70,-20,-20,0,-15 0 -90 0", "1.5"},
    };
    for (const Case& c : cases) {
        const double sox = bestCommand("sox " + q(in) + " -e floating-point -b 32 " + q(dir / "sox.wav") + " " + c.sox,
                                       Output::hidden);
        const double ours = bestCommand(std::string(q(SONORA_TOOL)) + " fx " + c.node + " " + q(in) + " " +
                                        q(dir / "ours.wav") + " " + c.params);
        row(c.what, ours, sox, c.goal);
    }
    fs::remove_all(dir);
    return 0;
}
