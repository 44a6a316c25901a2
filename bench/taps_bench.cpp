// Taps and recorders, as ratios against peers measured in the same run:
//   1. FFTTap::performFFT for 1024 ... 8192 frames vs numpy's rfft and |.|^2 on the same sizes;
//   2. the render thread's share of a 512-frame cycle for 64 taps (half raw-sized, half amplitude-
//      sized buffers) on 64 stereo nodes, and the ring overflows of a real-time run on the null
//      device (argument 1: seconds, default 10);
//   3. sonora-tool record-input of 8 channels to 24-bit files vs sox extracting the same channels
//      (argument 2: minutes of input, default 1).
#include "BenchSupport.h"

#include "Sonora/Taps/FFTTap.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/avfaudio/AVAudioMixerNode.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/avfaudio/detail/NodeTap.h"
#include "platform/foundation/HostTime.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace {

void fftRatios() {
    std::printf("performFFT vs numpy rfft + |X|^2 (per buffer)\n");
    for (uint32_t n : {1024u, 2048u, 4096u, 8192u}) {
        auto buffer = platform::AVAudioPCMBuffer::make(platform::AVAudioFormat::standardFormatWithSampleRate(44100, 2), n);
        for (uint32_t i = 0; i < n; ++i) buffer->floatChannelData()[0][i] = float(std::sin(0.1 * i));
        buffer->setFrameLength(n);
        constexpr int kCalls = 2000;
        const double ours = bench::best([&] {
                                for (int k = 0; k < kCalls; ++k) sonora::FFTTap::performFFT(*buffer, true, 0, std::nullopt);
                            }) / kCalls;
        const std::string script = "/usr/bin/python3 -c \"import numpy as np,timeit; x=np.sin(0.1*np.arange(" + std::to_string(n) +
                                   ")).astype(np.float32); print(min(timeit.repeat(lambda: np.abs(np.fft.rfft(x))**2, number=2000, repeat=5))/2000)\"";
        FILE* pipe = popen(script.c_str(), "r");
        double numpy = 0;
        if (!pipe || std::fscanf(pipe, "%lf", &numpy) != 1) numpy = 0;
        if (pipe) pclose(pipe);
        std::printf("  %5u: %.2f us vs %.2f us  ratio %.2f\n", n, ours * 1e6, numpy * 1e6, numpy > 0 ? ours / numpy : 0.0);
    }
}

void tapCost(double seconds) {
    // The render thread's part of a tap: the copy into its ring, for 64 taps of stereo 512-frame slices.
    std::vector<std::unique_ptr<platform::detail::NodeTap>> taps;
    for (int t = 0; t < 64; ++t)
        taps.push_back(std::make_unique<platform::detail::NodeTap>(t % 2 ? 1024 : 4096,
                                                                    platform::AVAudioFormat::standardFormatWithSampleRate(44100, 2),
                                                                    [](const auto&, const auto&) {}));
    std::vector<float> left(512, 0.25f), right(512, -0.25f);
    unsigned char storage[platform::AudioBufferListSize(2)];
    auto* list = reinterpret_cast<platform::AudioBufferList*>(storage);
    list->mNumberBuffers = 2;
    list->mBuffers[0] = {1, 512 * 4, left.data()};
    list->mBuffers[1] = {1, 512 * 4, right.data()};
    constexpr int kCycles = 2000;
    const double perCycle = bench::best([&] {
                                for (int k = 0; k < kCycles; ++k)
                                    for (auto& tap : taps) {
                                        tap->write(*list, 512, k * 512, 0, false);
                                        tap->deliver();  // keeps the ring from filling; not counted below
                                    }
                            }) / kCycles;
    // The deliveries alone, to take them out again.
    const double deliverOnly = bench::best([&] {
                                   for (int k = 0; k < kCycles; ++k)
                                       for (auto& tap : taps) tap->deliver();
                               }) / kCycles;
    const double cycle = 512.0 / 44100;
    std::printf("64 taps, 512-frame cycle: render-thread copy ~%.2f us of %.0f us = %.3f %% (with delivery %.2f us)\n",
                (perCycle - deliverOnly) * 1e6, cycle * 1e6, 100 * (perCycle - deliverOnly) / cycle, perCycle * 1e6);

    // Real time on the null device: 64 tapped sources under a mixer; count overflows.
    auto engine = platform::AVAudioEngine::make();
    auto mixer = engine->mainMixerNode();
    std::vector<std::shared_ptr<platform::AVAudioSourceNode>> sources;
    std::atomic<uint64_t> delivered{0};
    for (int t = 0; t < 64; ++t) {
        auto source = std::make_shared<platform::AVAudioSourceNode>(
            [](bool&, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames, platform::AudioBufferList* out) {
                for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                    std::fill_n(static_cast<float*>(out->mBuffers[c].mData), frames, 0.01f);
                return platform::noErr;
            });
        engine->attach(source);
        engine->connect(source, mixer, platform::AVAudioFormat::standardFormatWithSampleRate(44100, 2));
        source->installTapOnBus(0, t % 2 ? 1024 : 4096, std::nullopt, [&](const auto&, const auto&) { delivered.fetch_add(1); });
        sources.push_back(source);
    }
    auto stream = engine->outputNode()->deviceStream();
    stream->open(stream->deviceID(), 44100, 2, 512);
    engine->start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    engine->stop();
    uint64_t overflows = 0;
    for (auto& s : sources) overflows += s->tapOverflowCount(0);
    std::printf("real time %.0f s: %llu buffers delivered, %llu ring overflows, %llu device overruns\n", seconds,
                (unsigned long long)delivered.load(), (unsigned long long)overflows, (unsigned long long)stream->overrunCount());
}

void recordInput(double minutes) {
    if (!bench::haveTool("sox")) return;
    const auto folder = bench::makeFixtureFolder();
    const auto input = folder / "eight.wav";
    const std::string frames = std::to_string(int64_t(minutes * 60 * 48000));
    bench::mustRun("sox -D -r 48000 -c 8 -n -b 16 " + bench::q(input) + " synth " + frames +
                       "s sine 100 sine 200 sine 300 sine 400 sine 500 sine 600 sine 700 sine 800 vol 0.5",
                   bench::Output::hidden);
    const double ours = bench::bestCommand(std::string(SONORA_TOOL) + " record-input --input " + bench::q(input) +
                                               " --channels 0,1,2,3,4,5,6,7 --dir " + bench::q(folder / "rec") + " > /dev/null",
                                           bench::Output::hidden);
    std::string soxLine;
    for (int c = 1; c <= 8; ++c)
        soxLine += "sox -D " + bench::q(input) + " -b 24 " + bench::q(folder / ("sox" + std::to_string(c) + ".wav")) + " remix " +
                   std::to_string(c) + (c < 8 ? " && " : "");
    const double sox = bench::bestCommand(soxLine, bench::Output::hidden);
    std::printf("record-input 8 ch x %.1f min to 24-bit: %.2f s vs sox %.2f s  ratio %.2f\n", minutes, ours, sox, ours / sox);
    std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    const double minutes = argc > 2 ? std::atof(argv[2]) : 1;
    fftRatios();
    tapCost(seconds);
    recordInput(minutes);
    return 0;
}
