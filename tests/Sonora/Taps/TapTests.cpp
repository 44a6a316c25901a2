// The node taps: the base tap's life cycle through the log, and what the amplitude, FFT and raw
// taps make of a buffer.
#include "TapFixtures.h"

#include "Sonora/Taps/AmplitudeTap.h"
#include "Sonora/Taps/FFTTap.h"
#include "Sonora/Taps/RawDataTap.h"

#include <cmath>

using namespace sonora;
using namespace taptest;

namespace {

constexpr const char* kDetached = "The tapped node isn't attached to the engine";

class TapTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::setEnableLogging(true);
        platform::LogSink::clear();
    }
};

std::shared_ptr<platform::AVAudioPCMBuffer> bufferOf(const std::vector<std::vector<float>>& channels, uint32_t capacity = 0) {
    const auto frames = uint32_t(channels[0].size());
    auto buffer = platform::AVAudioPCMBuffer::make(
        platform::AVAudioFormat::standardFormatWithSampleRate(44100, uint32_t(channels.size())), std::max(capacity, frames));
    for (size_t c = 0; c < channels.size(); ++c) std::copy(channels[c].begin(), channels[c].end(), buffer->floatChannelData()[c]);
    buffer->setFrameLength(frames);
    return buffer;
}

std::vector<float> sine(uint32_t frames, double cyclesPerFrame, float amplitude = 0.5f) {
    std::vector<float> x(frames);
    for (uint32_t i = 0; i < frames; ++i) x[i] = amplitude * float(std::sin(2 * M_PI * cyclesPerFrame * i));
    return x;
}

}  // namespace

TEST_F(TapTest, StartAndStopThroughTheLog) {
    auto node = std::make_shared<SignalNode>([](uint32_t, int64_t n) { return float(n); });
    std::vector<std::vector<float>> got;
    auto tap = std::make_shared<RawDataTap>(node, 256, [&](const std::vector<float>& d) { got.push_back(d); });

    // Detached: two lines from start() (the removal, then instead of the installation), one from stop().
    tap->start();
    EXPECT_TRUE(tap->isStarted());
    EXPECT_EQ(logCount(kDetached), 2);
    tap->stop();
    EXPECT_FALSE(tap->isStarted());
    EXPECT_EQ(logCount(kDetached), 3);

    AudioEngine engine;
    engine.setOutput(node);
    startOffline(engine);
    platform::LogSink::clear();
    tap->start();
    tap->start();  // a second start installs nothing more
    EXPECT_EQ(logCount("already has a tap"), 0);
    render(engine, 512);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1][0], 256);

    // A buffer delivered before stop() whose work item runs after it is not analysed.
    auto buffer = platform::AVAudioPCMBuffer::make(platform::AVAudioFormat::standardFormatWithSampleRate(44100, 2), 256);
    tap->handleTapBlock(buffer, platform::AVAudioTime(int64_t(0), 44100.0));
    tap->stop();
    platform::DispatchQueue::pumpMainQueue();
    EXPECT_EQ(got.size(), 2u);
    EXPECT_EQ(tap->data, std::vector<float>(256, 0.0f));

    // Bus and input changes while stopped install nothing; while started they move the one tap.
    auto other = std::make_shared<SignalNode>([](uint32_t, int64_t) { return -1.0f; });
    tap->setBus(0);
    tap->setInput(node);
    EXPECT_FALSE(node->avAudioNode()->hasTap());
    tap->start();
    tap->setInput(node);  // the same node: no restart
    EXPECT_TRUE(node->avAudioNode()->hasTap());
    engine.avEngine()->attach(other->avAudioNode());
    tap->setInput(other);
    EXPECT_FALSE(node->avAudioNode()->hasTap());
    EXPECT_TRUE(other->avAudioNode()->hasTap());
    tap->setBus(0);
    EXPECT_TRUE(other->avAudioNode()->hasTap());
    render(engine, 256);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2][0], -1.0f);
    tap->stop();
    EXPECT_FALSE(other->avAudioNode()->hasTap());
}

TEST_F(TapTest, AmplitudeMeasuresChannelsZeroAndOne) {
    std::vector<float> reported;
    auto node = std::make_shared<SignalNode>([](uint32_t, int64_t) { return 0.0f; });
    struct Case {
        StereoMode stereo;
        AnalysisMode analysis;
        std::vector<std::vector<float>> channels;
        float value;
    };
    const std::vector<Case> cases = {
        {StereoMode::left, AnalysisMode::rms, {{3, -4, 3, -4}, {1, 1, 1, 1}}, std::sqrt(12.5f)},
        {StereoMode::right, AnalysisMode::rms, {{3, -4, 3, -4}, {1, 1, 1, 1}}, 1},
        {StereoMode::center, AnalysisMode::peak, {{-0.5f, -0.2f, -0.9f}, {0.1f, 0.4f, 0.3f}}, 0.5f * (-0.2f + 0.4f)},
        // A third channel is not measured.
        {StereoMode::center, AnalysisMode::peak, {{1, 0}, {0, 0.5f}, {9, 9}}, 0.75f},
    };
    for (const Case& k : cases) {
        AmplitudeTap tap(node, 4, k.stereo, k.analysis, [&](float v) { reported.push_back(v); });
        tap.start();
        tap.handleTapBlock(bufferOf(k.channels), platform::AVAudioTime(int64_t(0), 44100.0));
        platform::DispatchQueue::pumpMainQueue();
        ASSERT_FALSE(reported.empty());
        EXPECT_FLOAT_EQ(reported.back(), k.value);
        tap.stop();
        EXPECT_EQ(tap.amplitude(), 0);
        EXPECT_EQ(tap.leftAmplitude(), 0);
        EXPECT_EQ(tap.rightAmplitude(), 0);
    }
    // One channel updates entry 0 only; right reports the stored entry 1.
    AmplitudeTap mono(node, 2, StereoMode::center, AnalysisMode::peak, [&](float v) { reported.push_back(v); });
    mono.start();
    mono.handleTapBlock(bufferOf({{0.25f, 0.75f}}), platform::AVAudioTime(int64_t(0), 44100.0));
    platform::DispatchQueue::pumpMainQueue();
    EXPECT_FLOAT_EQ(reported.back(), 0.375f);
    EXPECT_FLOAT_EQ(mono.rightAmplitude(), 0);
    mono.stop();
}

TEST_F(TapTest, FFTSizeFollowsTheBufferOrTheBinCount) {
    struct Case {
        uint32_t frames;
        uint32_t padding;
        std::optional<FFTValidBinCount> bins;
        size_t values;
    };
    const Case cases[] = {
        {1024, 0, std::nullopt, 512},
        {1400, 0, std::nullopt, 512},   // log2 1400 = 10.45 rounds down: the first 1024 frames
        {1000, 0, std::nullopt, 512},   // rounds up: 1000 frames and 24 zeros
        {1024, 1, std::nullopt, 1024},  // the buffer and 1024 zeros
        {1024, 0, FFTValidBinCount::fiveHundredAndTwelve, 512},
        {1024, 0, FFTValidBinCount::fourThousandAndNintySix, 512},
        {8192, 0, FFTValidBinCount::sixtyFour, 64},
    };
    for (const Case& k : cases) {
        const auto buffer = bufferOf({sine(k.frames, 0.01)});
        std::optional<FFTTap::FFTSetupForBinCount> setup;
        if (k.bins) setup.emplace(*k.bins);
        const auto spectrum = FFTTap::performFFT(*buffer, true, k.padding, setup);
        EXPECT_EQ(spectrum.size(), k.values) << k.frames;
        for (float v : spectrum) ASSERT_TRUE(std::isfinite(v)) << k.frames;
        EXPECT_NEAR(*std::max_element(spectrum.begin(), spectrum.end()), 1.0f, 1.2e-7) << k.frames;
    }
    // Before the first buffer fftData holds binCount zeros, else bufferSize zeros.
    auto node = std::make_shared<SignalNode>([](uint32_t, int64_t) { return 0.0f; });
    EXPECT_EQ(FFTTap(node, 1024, FFTValidBinCount::fourThousandAndNintySix).fftData.size(), 4096u);
    EXPECT_EQ(FFTTap(node, 1024).fftData.size(), 1024u);
    EXPECT_EQ(fftValidBinCount(3.0), std::nullopt);
    EXPECT_EQ(fftValidBinCount(8192.0), FFTValidBinCount::eightThousandOneHundredAndNintyTwo);
    EXPECT_EQ(FFTTap::FFTSetupForBinCount(FFTValidBinCount::two).log2n, 1u);
}

// A sine of amplitude 0.5 at bin 64 of a 1024-point window: the Hann window (0.8165 (1 - cos))
// leaves 0.8165^2 = 0.6667 at bin 64 and a quarter of it, 0.1667, at bins 63 and 65.
TEST_F(TapTest, FFTOfASineAtBin64) {
    const auto buffer = bufferOf({sine(1024, 64.0 / 1024, 0.5f)});
    const auto power = FFTTap::performFFT(*buffer, false, 0, std::nullopt);
    ASSERT_EQ(power.size(), 512u);
    EXPECT_NEAR(power[64], 0.6667, 1e-4);
    EXPECT_NEAR(power[63], 0.1667, 1e-4);
    EXPECT_NEAR(power[65], 0.1667, 1e-4);
    EXPECT_NEAR(power[10], 0, 1e-6);
    const auto normalized = FFTTap::performFFT(*buffer, true, 0, std::nullopt);
    EXPECT_NEAR(normalized[64], 1.0, 1.2e-7);
    EXPECT_NEAR(normalized[63], 0.25, 1e-5);
}

TEST_F(TapTest, FFTSkipsWhatItCannotTransformAndGivesZerosForSilence) {
    const auto silent = FFTTap::performFFT(*bufferOf({std::vector<float>(1024, 0.0f)}), true, 0, std::nullopt);
    EXPECT_EQ(silent, std::vector<float>(512, 0.0f));
    const auto empty = bufferOf({std::vector<float>{}}, 16);
    EXPECT_TRUE(FFTTap::performFFT(*empty, true, 0, std::nullopt).empty());
    EXPECT_EQ(logCount("the buffer holds no frames"), 1);
    EXPECT_TRUE(FFTTap::performFFT(*bufferOf({sine(1024, 0.1)}), true, 0x7FFFFFFF, std::nullopt).empty());
    EXPECT_EQ(logCount("does not fit 32 bits"), 1);

    // Through the tap: a skipped buffer calls no handler; stop() keeps fftData's length, zeroed.
    auto node = std::make_shared<SignalNode>([](uint32_t, int64_t) { return 0.0f; });
    int calls = 0;
    FFTTap tap(node, 1024, std::nullopt, [&](const std::vector<float>&) { ++calls; });
    tap.start();
    tap.handleTapBlock(bufferOf({sine(1024, 0.1)}), platform::AVAudioTime(int64_t(0), 44100.0));
    platform::DispatchQueue::pumpMainQueue();
    tap.zeroPaddingFactor = 0x7FFFFFFF;
    tap.handleTapBlock(bufferOf({sine(1024, 0.1)}), platform::AVAudioTime(int64_t(0), 44100.0));
    platform::DispatchQueue::pumpMainQueue();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(tap.fftData.size(), 512u);
    tap.stop();
    EXPECT_EQ(tap.fftData, std::vector<float>(512, 0.0f));
}

TEST_F(TapTest, RawDataCopiesTheLastBufferSizeFramesOfChannelZero) {
    auto node = std::make_shared<SignalNode>([](uint32_t, int64_t) { return 0.0f; });
    std::vector<float> got;
    RawDataTap tap(node, 1024, [&](const std::vector<float>& d) { got = d; });
    tap.start();
    std::vector<float> ramp(4096), right(4096, -7.0f);
    for (uint32_t i = 0; i < 4096; ++i) ramp[i] = float(i);
    tap.handleTapBlock(bufferOf({ramp, right}), platform::AVAudioTime(int64_t(0), 44100.0));
    platform::DispatchQueue::pumpMainQueue();
    ASSERT_EQ(got.size(), 1024u);
    EXPECT_EQ(got.front(), 3072);
    EXPECT_EQ(got.back(), 4095);
    // A buffer shorter than the tap's size (a removed tap's last one) is padded with zeros.
    tap.handleTapBlock(bufferOf({{1, 2, 3}}), platform::AVAudioTime(int64_t(0), 44100.0));
    platform::DispatchQueue::pumpMainQueue();
    ASSERT_EQ(got.size(), 1024u);
    EXPECT_EQ(got[2], 3);
    EXPECT_EQ(got[3], 0);
    tap.stop();
}
