#include "Sonora/AudioFiles/AVAudioPCMBufferProcessing.h"

#include "BufferFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using fixtures::at;
using fixtures::floatBuffer;
using fixtures::logged;
using platform::AVAudioCommonFormat;
using platform::AVAudioFormat;
using platform::AVAudioPCMBuffer;
using platform::OSLogType;

namespace {

// A buffer that is silent except for one sample.
std::shared_ptr<AVAudioPCMBuffer> spike(unsigned channels, uint32_t frames, unsigned channel, uint32_t frame, float value) {
    return floatBuffer(channels, 1000, frames,
                       [=](unsigned c, uint32_t i) { return c == channel && i == frame ? value : 0.0f; });
}

}  // namespace

TEST(BufferPeak, ScansEveryChannelAtEveryBlockIncludingTheLastShortOne) {
    struct Case {
        const char* what;
        unsigned channels;
        uint32_t frames, channel, frame;
        float value;
        int64_t framePosition;
    } cases[] = {
        {"buffer shorter than one block", 1, 10, 0, 3, 0.5f, 0},
        {"last partial block", 1, 513, 0, 512, 0.9f, 512},
        {"negative sample", 1, 600, 0, 550, -0.75f, 512},
        {"channel 0 in the second block of a stereo buffer", 2, 1024, 0, 700, 0.8f, 512},
        {"channel 1 in the first block", 2, 1024, 1, 10, 0.7f, 0},
        {"channel 1 in the last partial block", 2, 1100, 1, 1099, 0.6f, 1024},
    };
    for (const Case& c : cases) {
        const auto found = sonora::peak(*spike(c.channels, c.frames, c.channel, c.frame, c.value));
        ASSERT_TRUE(found) << c.what;
        EXPECT_EQ(found->framePosition, c.framePosition) << c.what;
        EXPECT_FLOAT_EQ(found->amplitude, std::fabs(c.value)) << c.what;
        EXPECT_DOUBLE_EQ(found->time, double(c.framePosition) / 1000) << c.what;
    }
}

TEST(BufferPeak, AnEqualLaterBlockDoesNotMoveThePeak) {
    const auto buffer = floatBuffer(2, 1000, 2048, [](unsigned c, uint32_t i) {
        return (c == 0 && i == 100) || (c == 1 && i == 1500) ? 0.5f : 0.0f;
    });
    const auto found = sonora::peak(*buffer);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->framePosition, 0);
    EXPECT_FLOAT_EQ(found->amplitude, 0.5f);
}

TEST(BufferPeak, NothingForAnEmptyOrNonFloatBuffer) {
    EXPECT_FALSE(sonora::peak(*floatBuffer(1, 1000, 0, {}, 100)));
    const auto int16 = AVAudioPCMBuffer::make(AVAudioFormat(AVAudioCommonFormat::pcmFormatInt16, 1000, 1, false), 100);
    int16->setFrameLength(100);
    EXPECT_FALSE(sonora::peak(*int16));
    EXPECT_FALSE(sonora::toFloatChannelData(*int16));
}

TEST(BufferChannelData, OneArrayPerChannelOfFrameLengthValues) {
    for (bool interleaved : {false, true}) {
        const auto buffer = floatBuffer(2, 1000, 5, [](unsigned c, uint32_t i) { return float(c * 10 + i); }, 8, interleaved);
        const auto arrays = sonora::toFloatChannelData(*buffer);
        ASSERT_TRUE(arrays);
        EXPECT_EQ(*arrays, (std::vector<std::vector<float>>{{0, 1, 2, 3, 4}, {10, 11, 12, 13, 14}})) << interleaved;
    }
}

TEST(BufferFade, RefusesWhenNoFadeCanBeAppliedAndReturnsTheSameObject) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const auto buffer = floatBuffer(1, 1000, 100, [](unsigned, uint32_t) { return 1.0f; });
    for (auto [in, out] : {std::pair{0.0, 0.0}, {-1.0, 0.0}, {nan, nan}, {inf, 0.0}, {0.0, inf}, {1e300, 0.0}}) {
        platform::LogSink::clear();
        EXPECT_EQ(sonora::fade(buffer, in, out, true), buffer) << in << " " << out;
        EXPECT_TRUE(logged("Error fading buffer, returning original...", "general", OSLogType::info));
    }
}

TEST(BufferFade, LinearGainStepsOncePerFrameAndIsTheSameOnEveryChannel) {
    const double rate = 100;
    for (unsigned channels : {1u, 2u}) {
        const auto source = floatBuffer(channels, rate, 50, [](unsigned, uint32_t) { return 1.0f; });
        const auto in = sonora::fade(source, 0.1, 0, true);  // 10 frames
        const auto out = sonora::fade(source, 0, 0.1, true);
        ASSERT_TRUE(in && out);
        ASSERT_NE(in, source);
        EXPECT_EQ(in->frameLength(), 50u);
        for (uint32_t k = 0; k < 50; ++k) {
            const float expectedIn = float(std::min(1.0, (k + 1) * (1 / rate) / 0.1));
            // The fade-out region starts after frame 40 and loses 1/10 per frame.
            const float expectedOut = k > 40 ? float(1.0 - (k - 40) * 0.1) : 1.0f;
            for (unsigned c = 0; c < channels; ++c) {
                EXPECT_NEAR(at(*in, c, k), expectedIn, 1e-6) << channels << " ch, frame " << k;
                EXPECT_NEAR(at(*out, c, k), expectedOut, 1e-6) << channels << " ch, frame " << k;
            }
        }
        EXPECT_EQ(at(*source, 0, 0), 1.0f) << "the source is untouched";
    }
}

TEST(BufferFade, ExponentialFadeInRunsFromAHundredthToFullOverTheRegion) {
    const double rate = 1000;
    for (unsigned channels : {1u, 2u}) {
        const auto source = floatBuffer(channels, rate, 300, [](unsigned, uint32_t) { return 1.0f; });
        const auto faded = sonora::fade(source, 0.1, 0.1, false);  // 100-frame regions
        ASSERT_TRUE(faded);
        const double inFactor = std::exp(std::log(100.0) / 100);
        const double outFactor = std::exp(2 * std::log(0.04) / 100);
        EXPECT_NEAR(at(*faded, 0, 0), 0.01 * inFactor, 1e-6);
        EXPECT_NEAR(at(*faded, 0, 99), 1.0, 1e-5);
        EXPECT_EQ(at(*faded, 0, 100), 1.0f);
        EXPECT_EQ(at(*faded, 0, 200), 1.0f);
        EXPECT_NEAR(at(*faded, 0, 201), outFactor, 1e-6);
        EXPECT_NEAR(at(*faded, 0, 299), std::pow(outFactor, 99), 1e-6);
        for (uint32_t k = 1; k < 100; ++k) {
            EXPECT_NEAR(at(*faded, 0, k) / at(*faded, 0, k - 1), inFactor, 1e-4) << "no jump at frame " << k;
            for (unsigned c = 1; c < channels; ++c) EXPECT_EQ(at(*faded, c, k), at(*faded, 0, k));
        }
    }
}

TEST(BufferFade, RegionBoundsDoNotMoveAFrameThroughRounding) {
    // 26 frames at 44100 Hz: 26 / 44100 * 44100 is just above 26, so 40 minus it is just below 14.
    const auto source = floatBuffer(1, 44100, 40, [](unsigned, uint32_t) { return 1.0f; });
    const auto faded = sonora::fade(source, 0, 26.0 / 44100, true);
    ASSERT_TRUE(faded);
    EXPECT_EQ(at(*faded, 0, 14), 1.0f);
    EXPECT_NEAR(at(*faded, 0, 15), 1.0 - 1.0 / 26, 1e-6);
}

TEST(BufferNormalize, ScalesThePeakToFullScale) {
    const auto source = floatBuffer(1, 1000, 600, [](unsigned, uint32_t i) { return i == 550 ? -0.5f : 0.25f; });
    const auto normalized = sonora::normalize(source);
    ASSERT_TRUE(normalized);
    ASSERT_NE(normalized, source);
    EXPECT_EQ(at(*normalized, 0, 0), 0.5f);
    EXPECT_EQ(at(*normalized, 0, 550), -1.0f);
    EXPECT_EQ(at(*source, 0, 550), -0.5f);
}

TEST(BufferNormalize, KeepsTheSourceWithoutAUsablePeak) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::shared_ptr<AVAudioPCMBuffer> cases[] = {
        floatBuffer(1, 1000, 0, {}, 10),                                          // empty: no peak
        floatBuffer(2, 1000, 100, [](unsigned, uint32_t) { return 0.0f; }),       // silent: peak 0
        floatBuffer(1, 1000, 100, [=](unsigned, uint32_t i) { return i == 3 ? inf : 0.1f; }),
    };
    for (const auto& buffer : cases) {
        platform::LogSink::clear();
        EXPECT_EQ(sonora::normalize(buffer), buffer);
        EXPECT_TRUE(logged("Failed getting peak amplitude, returning original buffer", "general", OSLogType::info));
    }
}

TEST(BufferReverse, ReversesTheValidFramesAndTwiceGivesTheSourceBack) {
    for (bool interleaved : {false, true}) {
        const auto source = floatBuffer(2, 1000, 7, [](unsigned c, uint32_t i) { return float(c * 100 + i); }, 10, interleaved);
        const auto once = sonora::reverse(*source);
        ASSERT_TRUE(once);
        EXPECT_EQ(once->frameLength(), 7u);
        EXPECT_EQ(at(*once, 0, 0), 6.0f);
        EXPECT_EQ(at(*once, 1, 6), 100.0f);
        const auto twice = sonora::reverse(*once);
        EXPECT_EQ(sonora::toFloatChannelData(*twice), sonora::toFloatChannelData(*source));
    }
}
