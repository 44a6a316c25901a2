// The wavetable oscillator against sox, measured in the same run: `sonora-tool osc square 441 0.5 60`
// (a started PlaygroundOscillator as the engine's output, rendered offline in 512-frame calls into a
// 32-bit float stereo WAV) against `sox -n synth 60 square 441` writing the same format. Each figure
// is the best of three whole-process runs; ratio = ours / sox (goal <= 1.0). A second line takes off
// both programs' start-up (a run with nothing to render: `sonora-tool table square 4` and a 1-frame
// sox synth), since ours loads the whole media stack before it does anything; a third renders the
// same oscillator inside this process (AudioEngine::renderToFile in 512-frame calls) against the
// whole sox run.
#include "BenchSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Table/Table.h"
#include "Sonora/Nodes/Generators/PlaygroundOscillator.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioSettings.h"

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
    const double ourStart = bestCommand(tool + " table square 4", Output::hidden);
    const double soxStart = bestCommand("sox -n -r 44100 -c 2 -e floating-point -b 32 " + q(dir / "sox1.wav") +
                                            " synth 1s square 441 vol 0.5",
                                        Output::hidden);
    std::printf("%-40s %-7s ratio %6.3f (goal <= 1.0)   ours %8.3f s   sox %8.3f s\n", "osc square 441 Hz, 60 s",
                "sox", ours / sox, ours, sox);
    std::printf("%-40s %-7s ratio %6.3f               ours %8.3f s   sox %8.3f s   (start-up %.3f s / %.3f s)\n",
                "  the same without process start-up", "sox", (ours - ourStart) / (sox - soxStart), ours - ourStart,
                sox - soxStart, ourStart, soxStart);

    const double inProcess = best([&] {
        auto osc = std::make_shared<sonora::PlaygroundOscillator>(
            std::make_shared<sonora::Table>(sonora::TableType::square), 441.0f, 0.5f);
        sonora::AudioEngine engine;
        engine.setOutput(osc);
        osc->start();
        const auto file = platform::AVAudioFile::forWriting(
            platform::URL((dir / "in.wav").string()),
            {{platform::AVFormatIDKey, double(platform::kAudioFormatLinearPCM)}, {platform::AVSampleRateKey, 44100},
             {platform::AVNumberOfChannelsKey, 2}, {platform::AVLinearPCMBitDepthKey, 32},
             {platform::AVLinearPCMIsFloatKey, 1}});
        engine.renderToFile(*file, 512, 60);
        file->close();
    });
    std::printf("%-40s %-7s ratio %6.3f               ours %8.3f s   sox %8.3f s\n", "  rendered inside this process",
                "sox", inProcess / sox, inProcess, sox);
    std::filesystem::remove_all(dir);
    return 0;
}
