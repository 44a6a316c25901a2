// The wavetable oscillator against sox, measured in the same run: `sonora-tool osc square 441 0.5 60`
// (a started PlaygroundOscillator as the engine's output, rendered offline in 512-frame calls into a
// 32-bit float stereo WAV) against `sox -n synth 60 square 441` writing the same format. Each figure
// is the best of three whole-process runs; ratio = ours / sox (goal <= 1.0).
#include "BenchSupport.h"

#include <cstdio>
#include <filesystem>
#include <string>

using namespace bench;

int main() {
    if (!haveTool("sox")) {
        std::fprintf(stderr, "osc_bench: needs sox\n");
        return 1;
    }
    const std::filesystem::path dir = makeFixtureFolder();
    std::printf("fixtures in %s\n", dir.c_str());
    const std::string tool = q(SONORA_TOOL_PATH);
    const double ours = bestCommand(tool + " osc square 441 0.5 60 " + q(dir / "osc.wav"), Output::hidden);
    const double sox = bestCommand("sox -n -r 44100 -c 2 -e floating-point -b 32 " + q(dir / "sox.wav") +
                                       " synth 60 square 441 vol 0.5",
                                   Output::hidden);
    std::printf("%-40s %-7s ratio %6.3f (goal <= 1.0)   ours %8.3f s   sox %8.3f s\n", "osc square 441 Hz, 60 s",
                "sox", ours / sox, ours, sox);
    std::filesystem::remove_all(dir);
    return 0;
}
