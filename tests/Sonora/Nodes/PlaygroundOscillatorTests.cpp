// The wavetable oscillator: its render block called directly, and through an engine.
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Internals/Table/Table.h"
#include "Sonora/Nodes/Generators/PlaygroundOscillator.h"
#include "platform/avfaudio/AVAudioSourceNode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <set>
#include <thread>
#include <vector>

using namespace sonora;
using V = std::vector<float>;

namespace {

// Calls the oscillator's render block for `frames` frames of two channels that start out holding
// `fill`, and returns both channels.
struct Rendered {
    V left, right;
};

Rendered renderBlock(const PlaygroundOscillator& osc, uint32_t frames, float fill = 0) {
    Rendered out{V(frames, fill), V(frames, fill)};
    std::vector<unsigned char> storage(platform::AudioBufferListSize(2));
    auto* list = reinterpret_cast<platform::AudioBufferList*>(storage.data());
    list->mNumberBuffers = 2;
    list->mBuffers[0] = {1, uint32_t(frames * sizeof(float)), out.left.data()};
    list->mBuffers[1] = {1, uint32_t(frames * sizeof(float)), out.right.data()};
    bool silence = false;
    const platform::AudioTimeStamp stamp{};
    EXPECT_EQ(osc.sourceNode()->renderBlock()(silence, stamp, frames, list), platform::noErr);
    EXPECT_FALSE(silence);
    return out;
}

std::shared_ptr<Table> steps() { return std::make_shared<Table>(V{10, 20, 30, 40}); }

std::shared_ptr<PlaygroundOscillator> started(std::shared_ptr<Table> table, float frequency, float amplitude) {
    auto osc = std::make_shared<PlaygroundOscillator>(std::move(table), frequency, amplitude);
    osc->start();
    return osc;
}

}  // namespace

TEST(PlaygroundOscillator, QuarterRateReadsTheSamplesInTurnForwardsAndBackwards) {
    const struct {
        float frequency;
        V cycle;
    } cases[] = {{11025, {5, 10, 15, 20}}, {-11025, {5, 20, 15, 10}}};
    for (const auto& c : cases) {
        auto osc = started(steps(), c.frequency, 0.5f);
        const Rendered out = renderBlock(*osc, 441);
        for (size_t i = 0; i < out.left.size(); ++i) {
            ASSERT_EQ(out.left[i], c.cycle[i % 4]) << c.frequency << " frame " << i;
            ASSERT_EQ(out.right[i], out.left[i]);
        }
    }
}

TEST(PlaygroundOscillator, FrequencyZeroHoldsTheSampleAtThePhase) {
    auto osc = started(steps(), 0, 2);
    EXPECT_EQ(renderBlock(*osc, 64).left, V(64, 20));
    osc->setFrequency(11025);
    renderBlock(*osc, 2);
    osc->setFrequency(0);
    EXPECT_EQ(renderBlock(*osc, 64).left, V(64, 60));
    EXPECT_EQ(osc->frequency(), 0);
    EXPECT_EQ(osc->amplitude(), 2);
}

TEST(PlaygroundOscillator, BypassedBlockLeavesTheBuffersAndThePhase) {
    PlaygroundOscillator osc(steps(), 11025, 1);
    EXPECT_TRUE(osc.bypassed());
    const Rendered out = renderBlock(osc, 32, 123.0f);
    EXPECT_EQ(out.left, V(32, 123.0f));
    EXPECT_EQ(out.right, V(32, 123.0f));
    EXPECT_EQ(osc.currentPhase(), 0);
    EXPECT_TRUE(osc.connections().empty());
    EXPECT_EQ(osc.avAudioNode(), osc.sourceNode());
}

TEST(PlaygroundOscillator, StopAndStartResumeWhereTheCycleStopped) {
    const auto table = std::make_shared<Table>(TableType::sine, 0.0f, 512);
    auto reference = started(table, 441, 0.5f);
    const V whole = renderBlock(*reference, 300).left;

    auto osc = started(table, 441, 0.5f);
    V pieces = renderBlock(*osc, 100).left;
    const float phase = osc->currentPhase();
    osc->stop();
    EXPECT_EQ(renderBlock(*osc, 50, 7.0f).left, V(50, 7.0f));
    EXPECT_EQ(osc->currentPhase(), phase);
    osc->start();
    const V rest = renderBlock(*osc, 200).left;
    pieces.insert(pieces.end(), rest.begin(), rest.end());
    EXPECT_EQ(pieces, whole);
}

TEST(PlaygroundOscillator, OutsideTheUsualRangeItStaysInsideTheTable) {
    const auto table = std::make_shared<Table>(TableType::sawtooth, 0.0f, 4096);
    const std::set<float> values(table->begin(), table->end());
    const auto tableValuesTimes = [&](const V& samples, float amplitude) {
        for (const float v : samples)
            if (!values.count(v / amplitude)) return false;
        return true;
    };
    // A tiny negative step wraps the phase to a value that rounds to exactly 2π: the last sample,
    // not one past the end.
    auto creeping = started(table, -0.0001f, 1);
    const V crept = renderBlock(*creeping, 3).left;
    EXPECT_EQ(crept[0], (*table)[0]);
    EXPECT_EQ(crept[1], (*table)[4095]);

    auto backwards = started(table, -441, 0.5f);
    EXPECT_TRUE(tableValuesTimes(renderBlock(*backwards, 44100).left, 0.5f));

    // Above the sample rate: whole cycles per frame are dropped, the phase stays in the cycle.
    auto fast = started(table, 70000, 0.5f);
    const V beyond = renderBlock(*fast, 4410).left;
    EXPECT_TRUE(tableValuesTimes(beyond, 0.5f));
    EXPECT_GE(fast->currentPhase(), 0);
    EXPECT_LE(fast->currentPhase(), 6.2831850f);
    auto slower = started(table, 70000 - 44100, 0.5f);
    const V folded = renderBlock(*slower, 4410).left;
    size_t same = 0;
    for (size_t i = 0; i < beyond.size(); ++i) same += beyond[i] == folded[i];
    EXPECT_GT(same, beyond.size() * 9 / 10) << "70000 Hz sounds as 25900 Hz";
}

TEST(PlaygroundOscillator, SilentForAnEmptyTableOrValuesThatAreNotFinite) {
    const float inf = std::numeric_limits<float>::infinity();
    auto empty = started(std::make_shared<Table>(V{}), 441, 1);
    EXPECT_EQ(renderBlock(*empty, 16, 9.0f).left, V(16, 0.0f));

    auto osc = started(steps(), 441, 1);
    renderBlock(*osc, 10);
    const float phase = osc->currentPhase();
    for (const auto& [frequency, amplitude] : {std::pair{inf, 1.0f}, {std::nanf(""), 1.0f}, {441.0f, inf},
                                               {441.0f, std::nanf("")}}) {
        osc->setFrequency(frequency);
        osc->setAmplitude(amplitude);
        const Rendered out = renderBlock(*osc, 16, 9.0f);
        EXPECT_EQ(out.left, V(16, 0.0f)) << frequency << " " << amplitude;
        EXPECT_EQ(out.right, V(16, 0.0f));
        EXPECT_EQ(osc->currentPhase(), phase);
    }
}

TEST(PlaygroundOscillator, TakesTheTableAtInit) {
    const auto table = steps();
    auto osc = started(table, 0, 1);
    (*table)[0] = 99;
    table->content().clear();
    EXPECT_EQ(renderBlock(*osc, 4).left, V(4, 10));
    EXPECT_EQ(osc->waveform(), table);
}

TEST(PlaygroundOscillator, SettersRaceTheRenderSafely) {
    auto osc = started(std::make_shared<Table>(TableType::sine, 0.0f, 256), 440, 1);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; !done.load(); ++i) {
            osc->setFrequency(float(100 + i % 1000));
            osc->setAmplitude(float(i % 3) / 2);
        }
    });
    bool bounded = true;
    for (int cycle = 0; cycle < 200; ++cycle)
        for (const float v : renderBlock(*osc, 256).left) bounded = bounded && std::fabs(v) <= 1.0f;
    done = true;
    writer.join();
    EXPECT_TRUE(bounded);
}

TEST(PlaygroundOscillator, InAnEngineItIsSilentUntilStarted) {
    AudioEngine engine;
    auto osc = std::make_shared<PlaygroundOscillator>(steps(), 11025, 1);
    engine.setOutput(osc);
    engine.startTest(0.1);
    const auto quiet = engine.render(512.0 / 44100);
    ASSERT_TRUE(quiet);
    ASSERT_EQ(quiet->frameLength(), 512u);
    for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(quiet->floatChannelData()[0][i], 0.0f) << i;
    osc->start();
    const auto loud = engine.render(512.0 / 44100);
    ASSERT_TRUE(loud);
    for (uint32_t c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(loud->floatChannelData()[c][i], 10.0f * float(i % 4 + 1)) << i;
    // Stopped again, the source node's zeroed buffers make silence, not the last cycle.
    osc->stop();
    const auto again = engine.render(512.0 / 44100);
    for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(again->floatChannelData()[1][i], 0.0f) << i;
}
