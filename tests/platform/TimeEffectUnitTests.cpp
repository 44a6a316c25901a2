// The reverb, time-pitch and varispeed units rendered offline: bad input, channel counts, presets,
// and the clock of the nodes a time effect pulls.
#include "platform/audiotoolbox/AVAudioUnitReverb.h"
#include "platform/audiotoolbox/AVAudioUnitTimePitch.h"
#include "platform/audiotoolbox/AVAudioUnitVarispeed.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/avfaudio/AVAudioSourceNode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace platform;

namespace {

constexpr double kRate = 44100;

// Renders `seconds` of `unit` fed by a source whose channel c, frame n is value(c, n).
std::vector<std::vector<float>> render(const std::shared_ptr<AVAudioUnit>& unit, uint32_t channels, double seconds,
                                       std::function<float(uint32_t, int64_t)> value) {
    auto engine = AVAudioEngine::make();
    auto frame = std::make_shared<int64_t>(0);
    auto source = std::make_shared<AVAudioSourceNode>(
        [value, frame](bool&, const AudioTimeStamp&, AVAudioFrameCount frames, AudioBufferList* out) -> OSStatus {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                for (AVAudioFrameCount i = 0; i < frames; ++i)
                    static_cast<float*>(out->mBuffers[c].mData)[i] = value(c, *frame + i);
            *frame += frames;
            return noErr;
        });
    const auto format = AVAudioFormat::standardFormatWithSampleRate(kRate, channels);
    engine->attach(source);
    engine->attach(unit);
    engine->connect(source, unit, format);
    engine->connect(unit, engine->outputNode(), format);
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, 512);
    engine->start();
    auto buffer = AVAudioPCMBuffer::make(format, 512);
    std::vector<std::vector<float>> out(channels);
    const auto total = AVAudioFrameCount(seconds * kRate);
    for (AVAudioFrameCount done = 0; done < total; done += 512) {
        EXPECT_EQ(engine->renderOffline(512, *buffer), AVAudioEngineManualRenderingStatus::success);
        for (uint32_t c = 0; c < channels; ++c)
            out[c].insert(out[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + 512);
    }
    engine->stop();
    return out;
}

double rms(const std::vector<float>& x, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(to - from));
}

struct UnitCase {
    const char* name;
    std::function<std::shared_ptr<AVAudioUnit>()> make;
    // Feeds a huge finite sample as well (a reverb rings on from it, loud and finite, as it should).
    bool huge = true;
};

std::vector<UnitCase> units() {
    return {
        {"reverb",
         [] {
             auto unit = std::make_shared<AVAudioUnitReverb>();
             unit->setWetDryMix(50);
             return unit;
         },
         false},
        {"timePitch",
         [] {
             auto unit = std::make_shared<AVAudioUnitTimePitch>();
             unit->setRate(1.5f);
             unit->setPitch(300);
             return unit;
         }},
        {"varispeed",
         [] {
             auto unit = std::make_shared<AVAudioUnitVarispeed>();
             unit->setRate(0.7f);
             return unit;
         }},
    };
}

}  // namespace

TEST(TimeEffectUnits, RecoverFromNonFiniteInputAndKeepChannelsApart) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const auto& unitCase : units()) {
        for (uint32_t channels : {1u, 4u}) {
            SCOPED_TRACE(std::string(unitCase.name) + " with " + std::to_string(channels) + " channels");
            // Channel c is the same noise at 0.1·(c + 1), after a burst of NaN, ±∞ and huge samples.
            const float huge = unitCase.huge ? 3e38f : -inf;
            const auto out = render(unitCase.make(), channels, 2.5, [=](uint32_t c, int64_t n) -> float {
                if (n >= 100 && n < 110) return n % 3 == 0 ? nan : (n % 3 == 1 ? inf : huge);
                const uint32_t hash = uint32_t(n) * 2654435761u;
                return float(0.1 * (c + 1) * (double(hash >> 8) / double(1u << 24) - 0.5));
            });
            // Finite from 1 s after the clean input came back.
            const size_t from = size_t(1.1 * kRate), to = out[0].size();
            for (uint32_t c = 0; c < channels; ++c)
                for (size_t i = from; i < to; ++i) ASSERT_TRUE(std::isfinite(out[c][i])) << "channel " << c << " frame " << i;
            const double first = rms(out[0], from, to);
            EXPECT_GT(first, 0.01);
            for (uint32_t c = 1; c < channels; ++c) EXPECT_NEAR(rms(out[c], from, to) / first, c + 1.0, 0.15 * (c + 1));
        }
    }
}

TEST(TimeEffectUnits, ReverbPresetsAndMixRange) {
    AVAudioUnitReverb reverb;
    EXPECT_EQ(reverb.factoryPreset(), AVAudioUnitReverbPreset::mediumHall);
    reverb.loadFactoryPreset(AVAudioUnitReverbPreset::plate);
    for (NSInteger bad : {NSInteger(-1), NSInteger(13), NSInteger(99)}) reverb.loadFactoryPreset(AVAudioUnitReverbPreset(bad));
    EXPECT_EQ(reverb.factoryPreset(), AVAudioUnitReverbPreset::plate);
    const double table[] = {0.4, 0.8, 1.2, 1.8, 2.5, 1.5, 1.2, 1.8, 5.0, 1.4, 2.0, 2.2, 3.0};
    for (NSInteger p = 0; p < 13; ++p) EXPECT_EQ(reverbPresetDecayTime(AVAudioUnitReverbPreset(p)), table[p]) << p;
    EXPECT_EQ(reverbPresetDecayTime(AVAudioUnitReverbPreset(99)), 0.0);

    struct Case {
        float set, reads;
    };
    for (const Case& c : {Case{150, 100}, Case{-5, 0}, Case{37.5f, 37.5f}, Case{std::nanf(""), 37.5f}}) {
        reverb.setWetDryMix(c.set);
        EXPECT_EQ(reverb.wetDryMix(), c.reads) << c.set;
    }
}

TEST(TimeEffectUnits, TimeAndRateRanges) {
    AVAudioUnitTimePitch timePitch;
    EXPECT_EQ(timePitch.rate(), 1.0f);
    EXPECT_EQ(timePitch.pitch(), 0.0f);
    EXPECT_EQ(timePitch.overlap(), 8.0f);
    timePitch.setRate(0);
    EXPECT_EQ(timePitch.rate(), 1.0f / 32);
    timePitch.setRate(100);
    EXPECT_EQ(timePitch.rate(), 32.0f);
    timePitch.setPitch(-5000);
    EXPECT_EQ(timePitch.pitch(), -2400.0f);
    timePitch.setOverlap(40);
    EXPECT_EQ(timePitch.overlap(), 32.0f);
    AVAudioUnitVarispeed varispeed;
    EXPECT_EQ(varispeed.rate(), 1.0f);
    varispeed.setRate(0.1f);
    EXPECT_EQ(varispeed.rate(), 0.25f);
    varispeed.setRate(9);
    EXPECT_EQ(varispeed.rate(), 4.0f);
}

// A time effect may skip pulling its input for a cycle; the nodes it pulls keep counting their own
// frames instead of jumping back to the engine's time.
TEST(TimeEffectUnits, SourcesBehindATimeEffectKeepTheirOwnClock) {
    auto engine = AVAudioEngine::make();
    struct Call {
        double sampleTime;
        AVAudioFrameCount frames;
    };
    auto calls = std::make_shared<std::vector<Call>>();
    calls->reserve(4096);
    auto source = std::make_shared<AVAudioSourceNode>(
        [calls](bool&, const AudioTimeStamp& stamp, AVAudioFrameCount frames, AudioBufferList*) -> OSStatus {
            if (calls->size() < calls->capacity()) calls->push_back({stamp.mSampleTime, frames});
            return noErr;
        });
    auto slow = std::make_shared<AVAudioUnitVarispeed>();
    slow->setRate(0.25f);
    const auto format = AVAudioFormat::standardFormatWithSampleRate(kRate, 2);
    engine->attach(source);
    engine->attach(slow);
    engine->connect(source, slow, format);
    engine->connect(slow, engine->outputNode(), format);
    // Cycles of 2 frames need half a frame of input each: most cycles pull nothing.
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, 2);
    engine->start();
    auto buffer = AVAudioPCMBuffer::make(format, 2);
    const int cycles = 2000;
    for (int i = 0; i < cycles; ++i) ASSERT_EQ(engine->renderOffline(2, *buffer), AVAudioEngineManualRenderingStatus::success);
    engine->stop();
    ASSERT_GT(calls->size(), 10u);
    EXPECT_LT(calls->size(), size_t(cycles * 3 / 4));
    for (size_t i = 1; i < calls->size(); ++i)
        ASSERT_EQ((*calls)[i].sampleTime, (*calls)[i - 1].sampleTime + (*calls)[i - 1].frames) << "call " << i;
}
