// The render thread's budget, measured in one run (costs are the render thread's CPU time):
//  1. the real-time check graph (8 clip players, fader with 5,000 automation events, stereo field
//     limiter, callback instrument, oscillator; parameters and automation changing on another
//     thread) on the null device at 512 frames for S seconds (default 60): the graph's render
//     cost per cycle as a share of the cycle's duration (average and worst) and the device's
//     overruns;
//  2. the silent tail of one impulse through the reverb (cathedral, all wet) rendered offline for
//     T seconds (default 30) in 512-frame cycles, with the engine's denormal flushing on and off:
//     the worst cycle against the median (goal with flushing: <= 10).
//
//   render_bench [S] [T]
#include "BenchSupport.h"

#include "../tests/tools/RtCheckGraph.h"

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "platform/audiotoolbox/AVAudioUnitReverb.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioNode.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioSourceNode.h"
#include "platform/avfaudio/RenderThreadMark.h"
#include "platform/avfaudio/detail/RenderPlan.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <string>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace bench;

namespace {

constexpr platform::AVAudioFrameCount kFrames = 512;
constexpr double kRate = 44100;

// CPU time of the calling thread: what a cycle costs, without the time the loaded machine gave to
// other threads meanwhile.
uint64_t nowNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return uint64_t(t.tv_sec) * 1'000'000'000u + uint64_t(t.tv_nsec);
}

// Passes its input through and records how long the graph below it took, per cycle.
class TimingNode final : public platform::AVAudioNode {
public:
    explicit TimingNode(size_t capacity) : AVAudioNode(1, 1), costs_(capacity), faults_(capacity) {}
    // Page faults (minor and major) the thread took during each cycle.
    uint64_t faults(size_t cycle) const { return cycle < faults_.size() ? faults_[cycle] : 0; }
    std::vector<uint64_t> costs() const { return {costs_.begin(), costs_.begin() + std::min(count_.load(), costs_.size())}; }

protected:
    platform::OSStatus render(const platform::detail::RenderCycle&, int64_t, platform::AVAudioFrameCount frames,
                    platform::AudioBufferList& output, platform::detail::RenderInputs& inputs) override {
        const uint64_t faultsBefore = pageFaults();
        const uint64_t start = nowNanoseconds();
        platform::OSStatus status = platform::noErr;
        const platform::AudioBufferList* input = inputs.pull(0, frames, status);
        platform::detail::copyOrSilence(output, input, frames);
        const size_t at = count_.fetch_add(1, std::memory_order_relaxed);
        if (at < costs_.size()) {
            costs_[at] = nowNanoseconds() - start;
            faults_[at] = pageFaults() - faultsBefore;
        }
        return platform::noErr;
    }

private:
    static uint64_t pageFaults() {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return uint64_t(usage.ru_minflt + usage.ru_majflt);
    }
    std::vector<uint64_t> costs_;
    std::vector<uint64_t> faults_;
    std::atomic<size_t> count_{0};
};

// Each node's own cost per cycle (its render and its tap, without the nodes it pulls), for the
// slowest cycles' account. Cycles are counted at the timing node's render.
class NodeCosts final : public platform::detail::RenderProbe {
public:
    static constexpr size_t kNodes = 64;
    NodeCosts(const platform::AVAudioNode* top, size_t cycles) : top_(top), costs_(cycles * kNodes, 0) {}

    void willRender(const platform::AVAudioNode& node) override {
        if (&node == top_) ++cycle_;
        if (depth_ < kDepth) stack_[depth_] = {nowNanoseconds(), 0};
        ++depth_;
    }
    void didRender(const platform::AVAudioNode& node) override {
        --depth_;
        if (depth_ >= kDepth) return;
        const uint64_t total = nowNanoseconds() - stack_[depth_].start;
        if (depth_ > 0) stack_[depth_ - 1].children += total;
        const size_t index = indexOf(&node);
        if (cycle_ > 0 && cycle_ <= cycles() && index < kNodes) costs_[(cycle_ - 1) * kNodes + index] += total - stack_[depth_].children;
    }

    size_t cycles() const { return costs_.size() / kNodes; }
    // The node's own cost over the first `count` cycles: average and worst.
    std::pair<double, double> of(const platform::AVAudioNode* node, size_t count) const {
        for (size_t i = 0; i < known_; ++i) {
            if (nodes_[i] != node) continue;
            double total = 0, worst = 0;
            for (size_t c = 0; c < std::min(count, cycles()); ++c) {
                total += double(costs_[c * kNodes + i]);
                worst = std::max(worst, double(costs_[c * kNodes + i]));
            }
            return {count ? total / double(std::min(count, cycles())) : 0, worst};
        }
        return {0, 0};
    }
    // The nodes that cost most in `cycle` (0-based), most first.
    std::vector<std::pair<const platform::AVAudioNode*, uint64_t>> top(size_t cycle, size_t count) const {
        std::vector<std::pair<const platform::AVAudioNode*, uint64_t>> list;
        for (size_t i = 0; i < known_ && cycle < cycles(); ++i) list.emplace_back(nodes_[i], costs_[cycle * kNodes + i]);
        std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        if (list.size() > count) list.resize(count);
        return list;
    }

private:
    static constexpr size_t kDepth = 64;
    size_t indexOf(const platform::AVAudioNode* node) {
        for (size_t i = 0; i < known_; ++i)
            if (nodes_[i] == node) return i;
        if (known_ == kNodes) return kNodes;
        nodes_[known_] = node;
        return known_++;
    }
    struct Frame {
        uint64_t start;
        uint64_t children;
    };
    const platform::AVAudioNode* top_;
    std::vector<uint64_t> costs_;
    std::array<const platform::AVAudioNode*, kNodes> nodes_{};
    size_t known_ = 0;
    std::array<Frame, kDepth> stack_{};
    size_t depth_ = 0;
    size_t cycle_ = 0;
};

// A Sonora node over a platform node with one input.
class Wrapper final : public sonora::Node {
public:
    Wrapper(std::shared_ptr<platform::AVAudioNode> node, std::shared_ptr<sonora::Node> input)
        : node_(std::move(node)), input_(std::move(input)) {}
    std::vector<std::shared_ptr<sonora::Node>> connections() const override {
        return input_ ? std::vector<std::shared_ptr<sonora::Node>>{input_} : std::vector<std::shared_ptr<sonora::Node>>{};
    }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return node_; }

private:
    std::shared_ptr<platform::AVAudioNode> node_;
    std::shared_ptr<sonora::Node> input_;
};

void realtimeGraph(double seconds) {
    const auto folder = makeFixtureFolder();
    rtcheck::RtCheckGraph graph(folder);
    const double cycle = double(kFrames) / kRate * 1e9;
    const size_t capacity = size_t(seconds * kRate / kFrames) + 1000;
    auto timing = std::make_shared<TimingNode>(capacity);
    NodeCosts nodeCosts(timing.get(), capacity);
    platform::detail::setRenderProbe(&nodeCosts);
    sonora::AudioEngine engine;
    engine.setOutput(std::make_shared<Wrapper>(timing, graph.output()));
    const auto stream = engine.avEngine()->outputNode()->deviceStream();
    stream->open(stream->deviceID(), kRate, 2, kFrames);
    const uint64_t overrunsBefore = stream->overrunCount();
    engine.start();
    graph.start();
    graph.startControl(true);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    graph.stopControl();
    engine.stop();
    platform::detail::setRenderProbe(nullptr);
    const uint64_t overruns = stream->overrunCount() - overrunsBefore;
    auto costs = timing->costs();
    // The first cycles include the players' start-up; they count like any other.
    if (costs.empty()) {
        std::printf("realtime graph: no cycle rendered\n");
        return;
    }
    double total = 0;
    for (auto c : costs) total += double(c);
    const double average = total / double(costs.size()) / cycle * 100;
    const auto worstAt = std::max_element(costs.begin(), costs.end());
    const double worst = double(*worstAt) / cycle * 100;
    std::vector<uint64_t> sorted = costs;
    std::sort(sorted.begin(), sorted.end());
    const double p999 = double(sorted[sorted.size() * 999 / 1000]) / cycle * 100;
    // After the first second, once the players, taps and recorders have started.
    const size_t settled = std::min(costs.size() - 1, size_t(kRate / kFrames));
    const double worstSettled = double(*std::max_element(costs.begin() + ptrdiff_t(settled), costs.end())) / cycle * 100;
    std::printf("realtime graph, %zu cycles of 512 frames in %.0f s: average render %.2f %% of the cycle (goal <= 25), "
                "99.9th percentile %.2f %%, worst %.2f %% at cycle %zu (goal <= 60), worst after the first second %.2f %%, "
                "overruns %llu (goal 0)\n",
                costs.size(), seconds, average, p999, worst, size_t(worstAt - costs.begin()), worstSettled,
                (unsigned long long)overruns);
    // The input node's share: the ring that bridges the input device's clock and the converter it feeds.
    const auto [inputAverage, inputWorst] = nodeCosts.of(engine.avEngine()->inputNode().get(), costs.size());
    std::printf("input node (the clock bridge): average %.3f %% of the cycle (goal < 1), worst %.2f %%\n",
                inputAverage / cycle * 100, inputWorst / cycle * 100);
    // What the slowest cycles spent their time on.
    std::vector<size_t> order(costs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return costs[a] > costs[b]; });
    for (size_t k = 0; k < std::min<size_t>(5, order.size()); ++k) {
        std::printf("  cycle %zu: %.1f %%, %llu page faults;", order[k], double(costs[order[k]]) / cycle * 100,
                    (unsigned long long)timing->faults(order[k]));
        for (const auto& [node, cost] : nodeCosts.top(order[k], k == 0 ? 12 : 4)) {
            const std::string label = graph.label(node);
            std::printf(" %s %.1f %%", label.empty() ? node->className().c_str() : label.c_str(), double(cost) / cycle * 100);
        }
        std::printf("\n");
    }
}

// Worst and median cycle of the silent tail after one impulse through the reverb.
std::pair<double, double> tail(double seconds, bool flush) {
    platform::FlushDenormalsScope::setEnabled(flush);
    auto impulse = std::make_shared<std::atomic<bool>>(false);
    auto source = std::make_shared<platform::AVAudioSourceNode>(
        [impulse](bool&, const platform::AudioTimeStamp&, platform::AVAudioFrameCount frames, platform::AudioBufferList* out) {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c) {
                auto* data = static_cast<float*>(out->mBuffers[c].mData);
                std::fill_n(data, frames, 0.0f);
                if (!impulse->exchange(true)) data[0] = 1.0f;
            }
            return platform::noErr;
        });
    auto input = std::make_shared<Wrapper>(source, nullptr);
    sonora::AudioEngine engine;
    auto reverb = std::make_shared<platform::AVAudioUnitReverb>();
    reverb->loadFactoryPreset(platform::AVAudioUnitReverbPreset::cathedral);
    reverb->setWetDryMix(100);
    engine.setOutput(std::make_shared<Wrapper>(reverb, input));
    const auto format = platform::AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    engine.avEngine()->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline, format, kFrames);
    engine.start();
    const auto buffer = platform::AVAudioPCMBuffer::make(format, kFrames);
    // The first cycle compiles the plan: a few cycles go before the timed ones.
    for (int i = 0; i < 8; ++i) engine.avEngine()->renderOffline(kFrames, *buffer);
    std::vector<uint64_t> costs;
    for (int64_t done = 0; done < int64_t(seconds * kRate); done += kFrames) {
        const uint64_t start = nowNanoseconds();
        engine.avEngine()->renderOffline(kFrames, *buffer);
        costs.push_back(nowNanoseconds() - start);
    }
    engine.stop();
    platform::FlushDenormalsScope::setEnabled(true);
    std::vector<uint64_t> sorted = costs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("  %s: p99 %.1f us\n", flush ? "with FTZ/DAZ" : "without", double(sorted[sorted.size() * 99 / 100]) / 1e3);
    return {double(sorted.back()), double(sorted[sorted.size() / 2])};
}

}  // namespace

int main(int argc, char** argv) {
    const double realtimeSeconds = argc > 1 ? std::atof(argv[1]) : 60;
    const double tailSeconds = argc > 2 ? std::atof(argv[2]) : 30;
    setenv("TAMBERLO_AUDIO_DEVICE", "null", 1);
    int qtArgc = 1;
    char name[] = "render_bench";
    char* qtArgv[] = {name, nullptr};
    QCoreApplication application(qtArgc, qtArgv);

    if (realtimeSeconds > 0) realtimeGraph(realtimeSeconds);
    const auto [worstOn, medianOn] = tail(tailSeconds, true);
    const auto [worstOff, medianOff] = tail(tailSeconds, false);
    std::printf("silent reverb tail, %.0f s: with FTZ/DAZ worst %.1f us, median %.1f us, "
                "ratio %.1f (goal <= 10); without: worst %.1f us, median %.1f us, ratio %.1f\n",
                tailSeconds, worstOn / 1e3, medianOn / 1e3, worstOn / medianOn, worstOff / 1e3, medianOff / 1e3,
                worstOff / medianOff);
    return 0;
}
