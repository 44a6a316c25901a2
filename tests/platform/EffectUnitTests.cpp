// The built-in effect units rendered directly: channels in any number, bypass as a copy, the
// parameter ramp law, plain sets that glide while rendering, recovery from non-finite input and
// frequencies held below Nyquist.
#include "platform/audiotoolbox/AVAudioUnitEffect.h"
#include "platform/audiotoolbox/EffectAudioUnit.h"
#include "platform/audiotoolbox/AudioUnit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

using namespace platform;

namespace {

const std::vector<std::pair<std::string, OSType>> kUnits = {
    {"dely", kAudioUnitSubType_Delay},          {"dist", kAudioUnitSubType_Distortion},
    {"dcmp", kAudioUnitSubType_DynamicsProcessor}, {"lmtr", kAudioUnitSubType_PeakLimiter},
    {"bpas", kAudioUnitSubType_BandPassFilter}, {"hpas", kAudioUnitSubType_HighPassFilter},
    {"hshf", kAudioUnitSubType_HighShelfFilter}, {"lpas", kAudioUnitSubType_LowPassFilter},
    {"lshf", kAudioUnitSubType_LowShelfFilter}, {"pmeq", kAudioUnitSubType_ParametricEQ}};

using Channels = std::vector<std::vector<float>>;

// A unit of the sub-type with `channels` channels at `rate`, fed from `input` in cycles.
struct Rig {
    std::shared_ptr<AUAudioUnit> unit;

    explicit Rig(OSType subType, uint32_t channels = 2, double rate = 44100)
        : unit(makeEffectUnit({kAudioUnitType_Effect, subType, kAudioUnitManufacturer_Apple, 0, 0})) {
        const auto format = AVAudioFormat::standardFormatWithSampleRate(rate, channels);
        EXPECT_TRUE(unit->inputBusses()[0]->setFormat(format));
        EXPECT_TRUE(unit->outputBusses()[0]->setFormat(format));
    }

    void set(AUParameterAddress address, AUValue value) {
        EXPECT_EQ(AudioUnitSetParameter(unit->audioUnit(), uint32_t(address), kAudioUnitScope_Global, 0, value, 0), noErr);
    }

    // Renders the whole input (allocating first when needed), `cycle` frames a call.
    Channels render(const Channels& input, uint32_t cycle = 512) {
        if (!unit->renderResourcesAllocated()) {
            EXPECT_TRUE(unit->allocateRenderResources());
        }
        const auto channels = uint32_t(input.size());
        Channels output(channels, std::vector<float>(input[0].size()));
        std::vector<float> storage(size_t(cycle) * channels);
        std::vector<unsigned char> listMemory(AudioBufferListSize(channels));
        auto* list = reinterpret_cast<AudioBufferList*>(listMemory.data());
        list->mNumberBuffers = channels;
        for (size_t done = 0; done < input[0].size(); done += cycle) {
            const auto frames = uint32_t(std::min<size_t>(cycle, input[0].size() - done));
            for (uint32_t c = 0; c < channels; ++c) list->mBuffers[c] = {1, frames * 4, storage.data() + size_t(c) * cycle};
            auto pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount count, NSInteger,
                            AudioBufferList* into) -> AUAudioUnitStatus {
                for (uint32_t c = 0; c < into->mNumberBuffers; ++c)
                    std::copy_n(input[c].data() + done, count, static_cast<float*>(into->mBuffers[c].mData));
                return noErr;
            };
            AudioUnitRenderActionFlags flags = 0;
            AudioTimeStamp stamp;
            stamp.mSampleTime = double(sampleTime);
            stamp.mFlags = kAudioTimeStampSampleTimeValid;
            EXPECT_EQ(unit->renderBlock()(&flags, &stamp, frames, 0, list, pull), noErr);
            for (uint32_t c = 0; c < channels; ++c)
                std::copy_n(storage.data() + size_t(c) * cycle, frames, output[c].data() + done);
            sampleTime += frames;
        }
        return output;
    }

    int64_t sampleTime = 0;
};

std::vector<float> noise(size_t frames, unsigned seed, float level = 0.3f) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-level, level);
    std::vector<float> out(frames);
    for (float& x : out) x = uniform(random);
    return out;
}

}  // namespace

TEST(EffectUnits, EveryChannelCountWorksAndIndependentChannelsStayApart) {
    for (const auto& [name, subType] : kUnits) {
        Channels four;
        for (unsigned c = 0; c < 4; ++c) four.push_back(noise(4096, c + 1));
        const Channels out = Rig(subType, 4).render(four);
        for (const auto& channel : out)
            for (float x : channel) ASSERT_TRUE(std::isfinite(x)) << name;
        // The dynamics units follow the loudest channel: one gain for all of them.
        if (name == "dcmp" || name == "lmtr") continue;
        for (unsigned c = 0; c < 4; ++c)
            EXPECT_EQ(Rig(subType, 1).render({four[c]})[0], out[c]) << name << " channel " << c;
    }
}

TEST(EffectUnits, BypassIsAStraightCopy) {
    for (const auto& [name, subType] : kUnits) {
        Rig rig(subType);
        rig.unit->setShouldBypassEffect(true);
        const Channels input = {noise(3000, 5, 2.0f), noise(3000, 6, 2.0f)};
        EXPECT_EQ(rig.render(input, 300), input) << name;
    }
}

TEST(EffectUnits, EventRampsFollowTheLinearLawAndPlainSetsGlideOnlyWhileRendering) {
    // A distortion whose chain is silent plays (1 − finalMix/100)·x: the mix is heard directly.
    Rig rig(kAudioUnitSubType_Distortion, 1);
    rig.set(9, 100);  // polynomialMix
    rig.set(6, 0);    // linearTerm
    rig.set(15, 25);  // before the first render: at once
    const Channels ones = {std::vector<float>(1024, 1.0f)};
    EXPECT_FLOAT_EQ(rig.render(ones)[0][0], 0.75f);

    rig.unit->scheduleParameterBlock()(rig.sampleTime + 100, 400, 15, 100);
    const auto ramp = rig.render(ones, 256)[0];
    for (int k = 0; k <= 400; k += 50)
        EXPECT_NEAR(ramp[size_t(100 + k)], 0.75 * (1 - double(k) / 400), 1e-6) << k;
    EXPECT_EQ(ramp[600], 0.0f);

    rig.set(15, 0);  // while rendering: 0.02 s
    const auto glide = rig.render({std::vector<float>(2048, 1.0f)})[0];
    const double frames = std::floor(44100 * double(0.02f));
    EXPECT_NEAR(glide[0], 0.0, 1e-6);
    EXPECT_NEAR(glide[size_t(frames / 2)], 0.5, 2e-3);
    EXPECT_NEAR(glide[2000], 1.0, 1e-6);
}

TEST(EffectUnits, NonFiniteInputIsForgottenWithinASecond) {
    for (const auto& [name, subType] : kUnits) {
        Rig rig(subType);
        Channels input = {noise(3 * 44100, 9), noise(3 * 44100, 10)};
        input[0][1000] = std::numeric_limits<float>::quiet_NaN();
        input[1][2000] = std::numeric_limits<float>::infinity();
        input[0][2500] = -std::numeric_limits<float>::infinity();
        if (subType == kAudioUnitSubType_Delay) rig.set(2, 100);  // full feedback keeps anything it holds
        const Channels out = rig.render(input);
        for (const auto& channel : out)
            for (size_t n = 2501 + 44100; n < channel.size(); ++n) ASSERT_TRUE(std::isfinite(channel[n])) << name << " " << n;
    }
}

TEST(EffectUnits, FrequenciesAtOrAboveNyquistAreHeldBelowIt) {
    for (OSType subType : {kAudioUnitSubType_LowPassFilter, kAudioUnitSubType_HighPassFilter,
                           kAudioUnitSubType_BandPassFilter, kAudioUnitSubType_ParametricEQ,
                           kAudioUnitSubType_HighShelfFilter}) {
        for (double rate : {44100.0, 22050.0}) {
            Rig rig(subType, 1, rate);
            rig.set(0, 22050);
            const auto out = rig.render({noise(20000, 3)})[0];
            float peak = 0;
            for (float x : out) peak = std::max(peak, std::fabs(x));
            EXPECT_TRUE(std::isfinite(peak) && peak < 20) << fourCharCodeString(subType) << " at " << rate;
        }
    }
}
