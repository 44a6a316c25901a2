// The effect nodes against sox measured in the same run, each on a 60-second stereo noise file,
// both sides writing 32-bit float WAV:
//   - `sonora-tool fx lowPassFilter` against `sox … lowpass` (goal ≤ 1.0×);
//   - `sonora-tool fx parametricEQ` against `sox … equalizer` (goal ≤ 1.0×);
//   - `sonora-tool fx compressor` against `sox … compand` (goal ≤ 1.5×).
// Each is followed by the unit alone: the same 60 seconds rendered in process in 512-frame
// cycles, against sox applying the effect with no output file (`-n`), which shows how much of
// the tool's time is the effect itself.
#include "BenchSupport.h"

#include "platform/audiotoolbox/AVAudioUnitEffect.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/audiotoolbox/EffectAudioUnit.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

void row(const char* what, double ours, double peer, const char* goal) {
    std::printf("%-52s ratio %6.3f   ours %7.3f s   sox %7.3f s   (goal <= %s)\n", what, ours / peer, ours, peer, goal);
    std::fflush(stdout);
}

// Seconds to render 60 s of stereo noise through a fresh unit of the sub-type with the parameters.
double unitRender(platform::OSType subType, const std::vector<std::pair<uint32_t, float>>& parameters) {
    using namespace platform;
    constexpr uint32_t kCycle = 512;
    constexpr int64_t kFrames = 44100 * 60;
    std::vector<float> left(kCycle), right(kCycle);
    std::mt19937 random(1);
    std::uniform_real_distribution<float> uniform(-0.3f, 0.3f);
    std::vector<float> source(kCycle * 64);
    for (float& x : source) x = uniform(random);
    return best([&] {
        auto unit = makeEffectUnit({kAudioUnitType_Effect, subType, kAudioUnitManufacturer_Apple, 0, 0});
        for (const auto& [address, value] : parameters)
            AudioUnitSetParameter(unit->audioUnit(), address, kAudioUnitScope_Global, 0, value, 0);
        unit->allocateRenderResources();
        alignas(AudioBufferList) unsigned char storage[AudioBufferListSize(2)];
        auto* list = reinterpret_cast<AudioBufferList*>(storage);
        list->mNumberBuffers = 2;
        list->mBuffers[0] = {1, kCycle * 4, left.data()};
        list->mBuffers[1] = {1, kCycle * 4, right.data()};
        const auto render = unit->renderBlock();
        AudioTimeStamp stamp;
        stamp.mFlags = kAudioTimeStampSampleTimeValid;
        for (int64_t done = 0; done < kFrames; done += kCycle) {
            const float* from = source.data() + (done / kCycle % 63) * kCycle;
            std::copy_n(from, kCycle, left.data());
            std::copy_n(from + kCycle, kCycle, right.data());
            stamp.mSampleTime = double(done);
            AudioUnitRenderActionFlags flags = 0;
            render(&flags, &stamp, kCycle, 0, list, nullptr);
        }
    });
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
        platform::OSType subType;
        std::vector<std::pair<uint32_t, float>> unitParameters;
    };
    const Case cases[] = {
        {"fx lowPassFilter vs sox lowpass 1000", "lowPassFilter",
         "--param cutoffFrequency=1000 --param resonance=-3.0103", "lowpass 1000 0.707107q", "1.0",
         platform::kAudioUnitSubType_LowPassFilter, {{0, 1000.0f}, {1, -3.0103f}}},
        {"fx parametricEQ vs sox equalizer 2000 1q 6", "parametricEQ",
         "--param centerFreq=2000 --param q=1 --param gain=6", "equalizer 2000 1q 6", "1.0",
         platform::kAudioUnitSubType_ParametricEQ, {{0, 2000.0f}, {1, 1.0f}, {2, 6.0f}}},
        {"fx compressor vs sox compand", "compressor",
         "--param threshold=-20 --param headRoom=5 --param attackTime=0.001 --param releaseTime=0.05",
         "compand 0.001,0.05 6:-70,-70,-20,-20,0,-15 0 -90 0", "1.5",
         platform::kAudioUnitSubType_DynamicsProcessor, {{0, -20.0f}, {1, 5.0f}}},
    };
    for (const Case& c : cases) {
        const double sox = bestCommand("sox " + q(in) + " -e floating-point -b 32 " + q(dir / "sox.wav") + " " + c.sox,
                                       Output::hidden);
        const double ours = bestCommand(std::string(q(SONORA_TOOL)) + " fx " + c.node + " " + q(in) + " " +
                                        q(dir / "ours.wav") + " " + c.params);
        row(c.what, ours, sox, c.goal);
        const double soxAlone = bestCommand("sox " + q(in) + " -n " + c.sox, Output::hidden);
        row("  the unit alone, in process, vs sox -n", unitRender(c.subType, c.unitParameters), soxAlone, c.goal);
    }
    fs::remove_all(dir);
    return 0;
}
