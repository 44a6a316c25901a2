// The Fader against peers measured in the same run:
//   - `sonora-tool fx fader` (gain 0.5) on a 10-minute stereo file against `sox … vol 0.5`, both
//     writing 32-bit float WAV (goal ≤ 1.0×);
//   - the Fader kernel's render of 512-frame cycles against a plain multiply loop over the same
//     buffers (goal ≤ 1.5×);
//   - an offline render of 10 minutes through a Fader with 10,000 automation events against the
//     same render without automation (goal ≤ 1.1×).
// The real-time share of 128 Faders after clip players is in engine_bench.
#include "BenchSupport.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "SonoraEX/Kernels/FaderDSP.h"
#include "SonoraEX/Nodes/Fader.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/foundation/OSLog.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;
using namespace bench;

namespace {

constexpr double kRate = 44100;
constexpr int kSeconds = 600;
constexpr uint32_t kCycle = 512;
constexpr int64_t kFrames = int64_t(kRate) * kSeconds;

void row(const char* what, double ours, double peer, const char* peerName, const char* goal) {
    std::printf("%-48s ratio %6.3f   ours %7.3f s   %s %7.3f s   (goal <= %s)\n", what, ours / peer, ours, peerName,
                peer, goal);
    std::fflush(stdout);
}

// The kernel in place over 512-frame stereo cycles, against out = in × 0.5 over the same buffers.
void kernelLoop() {
    std::vector<float> left(kCycle, 0.25f), right(kCycle, -0.25f);
    alignas(AudioBufferList) unsigned char storage[AudioBufferListSize(2)];
    auto* list = reinterpret_cast<AudioBufferList*>(storage);
    list->mNumberBuffers = 2;
    list->mBuffers[0] = {1, kCycle * 4, left.data()};
    list->mBuffers[1] = {1, kCycle * 4, right.data()};
    sonora::FaderDSP fader;
    fader.setParameter(0, 0.5f, true);
    fader.setParameter(1, 0.5f, true);
    fader.init(2, kRate);
    AudioTimeStamp stamp;
    const int64_t cycles = kFrames / kCycle * 10;
    volatile float sink = 0;
    const double ours = best([&] {
        for (int64_t c = 0; c < cycles; ++c) {
            stamp.mSampleTime = double(c * kCycle);
            fader.render(nullptr, &stamp, kCycle, 0, list, nullptr, nullptr);
            sink = sink + left[7];
            left[0] = right[0] = 0.25f;
        }
    });
    const double plain = best([&] {
        for (int64_t c = 0; c < cycles; ++c) {
            float* l = left.data();
            float* r = right.data();
            for (uint32_t i = 0; i < kCycle; ++i) l[i] = l[i] * 0.5f;
            for (uint32_t i = 0; i < kCycle; ++i) r[i] = r[i] * 0.5f;
            sink = sink + left[7];
            left[0] = right[0] = 0.25f;
        }
    });
    row("Fader kernel vs plain multiply loop, 100 min", ours, plain, "plain", "1.5");
}

// A constant stereo source through a Fader, rendered offline for 10 minutes.
double faderRender(size_t automationEvents) {
    return best([&] {
        auto source = std::make_shared<AVAudioSourceNode>([](bool&, const AudioTimeStamp&, AVAudioFrameCount n, AudioBufferList* out) {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c) std::fill_n(static_cast<float*>(out->mBuffers[c].mData), n, 0.5f);
            return noErr;
        });
        struct SourceNode : sonora::Node {
            std::shared_ptr<AVAudioSourceNode> node;
            std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
            std::shared_ptr<AVAudioNode> avAudioNode() const override { return node; }
        };
        auto input = std::make_shared<SourceNode>();
        input->node = source;
        auto fader = std::make_shared<sonora::Fader>(input, 0.5f);
        sonora::AudioEngine engine;
        engine.setOutput(fader);
        const auto format = AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
        engine.avEngine()->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, kCycle);
        std::vector<sonora::AutomationEvent> events;
        for (size_t i = 0; i < automationEvents; ++i)
            events.push_back({float(i % 2), float(double(i) * kSeconds / double(automationEvents)), 0.01f});
        if (!events.empty()) fader->automateGain(events);
        engine.start();
        auto buffer = AVAudioPCMBuffer::make(format, kCycle);
        for (int64_t done = 0; done < kFrames; done += kCycle) engine.avEngine()->renderOffline(kCycle, *buffer);
        engine.stop();
    });
}

}  // namespace

int main() {
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 0);
    if (!std::getenv("TAMBERLO_LOG_STDERR")) LogSink::setEchoToStderr(false);
    if (!haveTool("sox")) {
        std::fprintf(stderr, "fx_bench: sox is needed\n");
        return 1;
    }
    const fs::path dir = makeFixtureFolder();
    const fs::path in = dir / "in.wav";
    mustRun("sox -n -r 44100 -c 2 -b 16 " + q(in) + " synth " + std::to_string(kSeconds) + " sine 440 pinknoise gain -9");
    std::printf("fx_bench: %d-second stereo 44.1 kHz file, %u-frame cycles\n", kSeconds, kCycle);

    bestCommand("sox " + q(in) + " -n stat", Output::hidden);  // warm the page cache
    const double sox = bestCommand("sox " + q(in) + " -e floating-point -b 32 " + q(dir / "sox.wav") + " vol 0.5");
    const double ours = bestCommand(std::string(q(SONORA_TOOL)) + " fx fader " + q(in) + " " + q(dir / "ours.wav") +
                                    " --param gain=0.5");
    row("fx fader gain 0.5 vs sox vol 0.5, 10 min", ours, sox, "sox", "1.0");

    kernelLoop();

    const double plain = faderRender(0);
    const double automated = faderRender(10000);
    row("render with 10,000 automation events vs none", automated, plain, "none", "1.1");
    fs::remove_all(dir);
    return 0;
}
