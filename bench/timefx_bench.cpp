// The reverb, time-pitch and varispeed nodes against sox, measured in the same run on 60 s of
// stereo noise, each side writing 32-bit float WAV:
//   - `sonora-tool fx reverb` (dryWetMix 0.5) against `sox … reverb` (goal ≤ 1.5×);
//   - `sonora-tool fx variSpeed` rate 2 against `sox … speed 2` (goal ≤ 1.5×);
//   - `sonora-tool fx timePitch` rate 2 against `sox … tempo 2` (goal ≤ 3×);
// and the reverb's cost per 512-frame cycle over a 30 s silent tail after 0.5 s of noise: no cycle
// above 10× the median (a tail decaying into denormal numbers would show here).
#include "BenchSupport.h"

#include "platform/audiotoolbox/AVAudioUnitReverb.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioSourceNode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;
using namespace bench;

namespace {

constexpr double kRate = 44100;

void row(const char* what, double ours, double peer, const char* peerName, const char* goal) {
    std::printf("%-40s ratio %6.3f   ours %7.3f s   %s %7.3f s   (goal <= %s)\n", what, ours / peer, ours, peerName,
                peer, goal);
    std::fflush(stdout);
}

void silentTail() {
    auto engine = AVAudioEngine::make();
    auto frame = std::make_shared<int64_t>(0);
    auto source = std::make_shared<AVAudioSourceNode>(
        [frame](bool&, const AudioTimeStamp&, AVAudioFrameCount frames, AudioBufferList* out) -> OSStatus {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                for (AVAudioFrameCount i = 0; i < frames; ++i) {
                    const int64_t n = *frame + i;
                    const uint32_t hash = uint32_t(n * 2 + c) * 2654435761u;
                    static_cast<float*>(out->mBuffers[c].mData)[i] =
                        n < int64_t(kRate / 2) ? float(double(hash >> 8) / double(1u << 24) - 0.5) : 0.0f;
                }
            *frame += frames;
            return noErr;
        });
    auto reverb = std::make_shared<AVAudioUnitReverb>();
    reverb->loadFactoryPreset(AVAudioUnitReverbPreset::cathedral);
    reverb->setWetDryMix(100);
    const auto format = AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    engine->attach(source);
    engine->attach(reverb);
    engine->connect(source, reverb, format);
    engine->connect(reverb, engine->outputNode(), format);
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, 512);
    engine->start();
    auto buffer = AVAudioPCMBuffer::make(format, 512);
    // The noise first, then 30 s of tail, each cycle timed.
    for (int i = 0; i < int(kRate / 2 / 512) + 1; ++i) engine->renderOffline(512, *buffer);
    std::vector<double> cycles;
    const int count = int(30 * kRate / 512);
    cycles.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        engine->renderOffline(512, *buffer);
        cycles.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    engine->stop();
    std::vector<double> sorted = cycles;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double p999 = sorted[size_t(double(sorted.size()) * 0.999)];
    // Where the slowest cycles fall shows whether they follow the decay or the machine's load.
    const auto slowest = std::max_element(cycles.begin(), cycles.end()) - cycles.begin();
    std::printf("reverb silent tail (cathedral, 30 s)       median %.1f us   99.9%% %.1f us (%.2f×)   max %.1f us "
                "(%.2f×, cycle %ld of %d)   (goal: max <= 10× median)\n",
                median * 1e6, p999 * 1e6, p999 / median, sorted.back() * 1e6, sorted.back() / median, long(slowest),
                count);
}

}  // namespace

int main() {
    if (!haveTool("sox")) {
        std::fprintf(stderr, "timefx_bench needs sox\n");
        return 1;
    }
    const fs::path dir = makeFixtureFolder();
    const auto in = q(dir / "noise.wav"), out = q(dir / "out.wav");
    mustRun("sox -n -r 44100 -c 2 -b 16 " + in + " synth 60 whitenoise gain -10");
    const std::string tool = q(SONORA_TOOL);
    struct Case {
        const char* what;
        std::string ours, peer;
        const char* goal;
    };
    const Case cases[] = {
        {"reverb (dryWetMix 0.5) vs sox reverb", tool + " fx reverb " + in + " " + out + " --param dryWetMix=0.5",
         "sox " + in + " -e floating-point -b 32 " + out + " reverb", "1.5"},
        {"variSpeed rate 2 vs sox speed 2", tool + " fx variSpeed " + in + " " + out + " --param rate=2",
         "sox " + in + " -e floating-point -b 32 " + out + " speed 2", "1.5"},
        {"timePitch rate 2 vs sox tempo 2", tool + " fx timePitch " + in + " " + out + " --param rate=2",
         "sox " + in + " -e floating-point -b 32 " + out + " tempo 2", "3"},
    };
    for (const Case& c : cases) {
        const double ours = bestCommand(c.ours, Output::hidden);
        const double peer = bestCommand(c.peer, Output::hidden);
        row(c.what, ours, peer, "sox", c.goal);
    }
    silentTail();
    fs::remove_all(dir);
    return 0;
}
