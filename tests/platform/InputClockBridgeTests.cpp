// The input's clock bridge on simulated clocks: a 48 kHz input device whose clock runs fast or
// slow against a 44.1 kHz output, for two minutes of their time stamps.
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/detail/InputClockBridge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace platform;

namespace {

constexpr double kInputRate = 48000;
constexpr double kOutputRate = 44100;
constexpr uint32_t kCycle = 512;
constexpr double kSeconds = 120;
constexpr double kFrequency = 441;
constexpr float kAmplitude = 0.5f;

// One channel's buffer list over `data`.
struct MonoList {
    AudioBufferList list{};
    explicit MonoList(std::vector<float>& data) {
        list.mNumberBuffers = 1;
        list.mBuffers[0] = AudioBuffer{1, uint32_t(data.size() * sizeof(float)), data.data()};
    }
};

struct BridgeRun {
    std::vector<float> output;
    uint64_t underruns, overflows, dropped, repeated;
};

// The input device delivers a sine in 512-frame cycles stamped on its own clock, which runs `ppm`
// parts per million fast; the output pulls what its cycles need at the stated rates.
BridgeRun simulate(double ppm) {
    const uint32_t latency = AVAudioInputNode::monitorLatency(kCycle, kInputRate, kCycle, kOutputRate);
    detail::InputClockBridge bridge(1, latency, kCycle, kInputRate);
    detail::InputClockBridgeCounts counts;
    std::vector<float> cycle(kCycle), pulled(2 * kCycle);
    MonoList in(cycle), out(pulled);
    BridgeRun run;
    const double inputPeriod = kCycle / (kInputRate * (1 + ppm * 1e-6));
    const double outputPeriod = kCycle / kOutputRate;
    uint64_t produced = 0, inputCycles = 0, outputCycles = 0;
    const auto pullSize = [](uint64_t j) {
        const auto at = [](uint64_t k) { return uint64_t(std::floor(double(k) * kCycle * kInputRate / kOutputRate)); };
        return uint32_t(at(j + 1) - at(j));
    };
    while (double(outputCycles) * outputPeriod < kSeconds) {
        const double inputAt = double(inputCycles) * inputPeriod;
        const double outputAt = double(outputCycles) * outputPeriod;
        if (inputAt <= outputAt) {
            for (uint32_t i = 0; i < kCycle; ++i, ++produced)
                cycle[i] = kAmplitude * float(std::sin(2 * std::numbers::pi * kFrequency * double(produced) / kInputRate));
            bridge.push(in.list, kCycle, uint64_t(std::llround(inputAt * 1e9)) + 1);
            ++inputCycles;
        } else {
            const uint32_t n = pullSize(outputCycles);
            bridge.pull(out.list, n, uint64_t(std::llround(outputAt * 1e9)) + 1, counts);
            run.output.insert(run.output.end(), pulled.begin(), pulled.begin() + n);
            ++outputCycles;
        }
    }
    run.underruns = counts.underruns.load();
    run.overflows = counts.overflows.load();
    run.dropped = counts.dropped.load();
    run.repeated = counts.repeated.load();
    return run;
}

}  // namespace

// Steady clocks need no frame dropped or repeated; a drift of 300 ppm either way is absorbed a
// frame at a time (about as many as the drift adds up to), never by running dry or over, and
// where the sine changes least, so no step is larger than its own.
TEST(InputClockBridge, AbsorbsADriftBetweenTheDevicesWithoutAStep) {
    const double step = 2 * std::numbers::pi * kFrequency / kInputRate * kAmplitude;
    for (const double ppm : {0.0, 300.0, -300.0}) {
        SCOPED_TRACE(std::to_string(ppm) + " ppm");
        const BridgeRun run = simulate(ppm);
        EXPECT_EQ(run.underruns, 0u);
        EXPECT_EQ(run.overflows, 0u);
        const double net = double(run.dropped) - double(run.repeated);
        const double drift = ppm * 1e-6 * kInputRate * kSeconds;
        if (ppm == 0) EXPECT_EQ(run.dropped + run.repeated, 0u);
        else EXPECT_NEAR(net, drift, std::fabs(drift) / 4) << run.dropped << " dropped, " << run.repeated << " repeated";
        size_t first = 0;
        while (first < run.output.size() && run.output[first] == 0) ++first;
        ASSERT_LT(first, run.output.size());
        double worst = 0;
        for (size_t i = first + 1; i < run.output.size(); ++i)
            worst = std::max(worst, double(std::fabs(run.output[i] - run.output[i - 1])));
        EXPECT_LE(worst, step * 1.01);
    }
}
