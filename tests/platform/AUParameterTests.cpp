#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/support/TestUnits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace platform;

namespace {

constexpr AudioUnitParameterOptions kReadWriteRamp =
    kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable | kAudioUnitParameterFlag_CanRamp;

std::shared_ptr<AUParameterTree> makeTree() {
    return AUParameterTree::createTree({
        AUParameterTree::createParameter("cutoff", "Cutoff Frequency", 3, 20, 20000, kAudioUnitParameterUnit_Hertz,
                                         std::nullopt, kReadWriteRamp),
        AUParameterTree::createParameter("mix", "Dry/Wet Mix", 7, 0, 1, kAudioUnitParameterUnit_Generic, "ratio",
                                         kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable),
    });
}

// Deinterleaved float buffers wrapped in a buffer list.
struct Buffers {
    Buffers(uint32_t channels, uint32_t frames, float fill)
        : samples(channels, std::vector<float>(frames, fill)), storage(AudioBufferListSize(channels) / 8 + 1) {
        list()->mNumberBuffers = channels;
        for (uint32_t c = 0; c < channels; ++c)
            list()->mBuffers[c] = {1, uint32_t(frames * sizeof(float)), samples[c].data()};
    }
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(storage.data()); }
    std::vector<std::vector<float>> samples;
    std::vector<uint64_t> storage;
};

}  // namespace

TEST(AUParameterTree, FindsParametersByAddressAndIdentifier) {
    const auto tree = makeTree();
    ASSERT_EQ(tree->allParameters().size(), 2u);
    EXPECT_EQ(tree->allParameters()[0]->identifier(), "cutoff");
    EXPECT_EQ(tree->allParameters()[1]->identifier(), "mix");

    const auto cutoff = tree->parameter(3);
    ASSERT_TRUE(cutoff);
    EXPECT_EQ(cutoff->displayName(), "Cutoff Frequency");
    EXPECT_EQ(cutoff->keyPath(), "cutoff");
    EXPECT_EQ(cutoff->minValue(), 20.f);
    EXPECT_EQ(cutoff->maxValue(), 20000.f);
    EXPECT_EQ(cutoff->unit(), kAudioUnitParameterUnit_Hertz);
    EXPECT_EQ(cutoff->flags(), 0xC2000000u);
    EXPECT_EQ(cutoff->value(), 20.f) << "a new parameter starts at its minimum";
    EXPECT_EQ(tree->parameter(7)->unitName(), "ratio");

    EXPECT_EQ(tree->valueForKey("mix"), tree->parameter(7));
    EXPECT_EQ(tree->valueForKeyPath("cutoff"), cutoff);
    EXPECT_EQ(tree->parameter(4), nullptr);
    EXPECT_EQ(tree->valueForKey("Dry/Wet Mix"), nullptr) << "lookup is by identifier, not display name";
}

TEST(AUParameter, ObserversHearEveryChangeButTheirOwn) {
    const auto tree = makeTree();
    const auto mix = tree->parameter(7);
    std::vector<std::pair<AUParameterAddress, AUValue>> plain;
    std::vector<AUParameterAutomationEvent> automation;
    std::vector<AUValue> treeWide;
    const auto plainToken = mix->tokenByAddingParameterObserver([&](auto a, auto v) { plain.emplace_back(a, v); });
    const auto autoToken = mix->tokenByAddingParameterAutomationObserver([&](int64_t n, const AUParameterAutomationEvent* e) {
        automation.insert(automation.end(), e, e + n);
    });
    tree->tokenByAddingParameterObserver([&](auto, auto v) { treeWide.push_back(v); });
    EXPECT_NE(plainToken, 0u);
    EXPECT_NE(plainToken, autoToken);

    mix->setValue(0.25f);
    mix->setValue(0.5f, plainToken, 1234, AUParameterAutomationEventType::value);  // plain observer is the originator
    mix->setValue(0.5f, 0, 99, AUParameterAutomationEventType::touch);               // gestures change no value

    EXPECT_EQ(mix->value(), 0.5f);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0], std::make_pair(AUParameterAddress{7}, 0.25f));
    ASSERT_EQ(automation.size(), 3u);
    EXPECT_EQ(automation[1].hostTime, 1234u);
    EXPECT_EQ(automation[1].value, 0.5f);
    EXPECT_EQ(automation[2].eventType, AUParameterAutomationEventType::touch);
    EXPECT_EQ(automation[2].address, 7u);
    EXPECT_EQ(treeWide, (std::vector<AUValue>{0.25f, 0.5f}));

    mix->removeParameterObserver(plainToken);
    mix->removeParameterObserver(autoToken);
    mix->removeParameterObserver(987654);  // unknown tokens are ignored
    mix->setValue(0.75f);
    EXPECT_EQ(plain.size(), 1u);
    EXPECT_EQ(automation.size(), 3u);
    EXPECT_EQ(treeWide.size(), 3u);
}

TEST(AUParameter, ImplementorHooksSeeValuesFirst) {
    const auto tree = makeTree();
    std::vector<AUValue> told;
    tree->implementorValueObserver = [&](AUParameter*, AUValue v) { told.push_back(v); };
    tree->parameter(3)->setValue(440);
    EXPECT_EQ(told, std::vector<AUValue>{440});

    tree->implementorValueProvider = [](AUParameter* p) { return p->address() == 3 ? 1000.f : 0.f; };
    EXPECT_EQ(tree->parameter(3)->value(), 1000.f);
}

TEST(AudioUnitParameterCalls, RefuseWhatTheUnitDoesNotHave) {
    auto unit = std::make_shared<AUAudioUnit>();
    auto bare = std::make_shared<AUAudioUnit>();
    unit->setParameterTree(makeTree());
    struct Case {
        AudioUnit handle;
        AudioUnitParameterID id;
        AudioUnitScope scope;
        OSStatus expected;
    };
    const Case cases[] = {
        {nullptr, 3, kAudioUnitScope_Global, kAudio_ParamError},
        {bare->audioUnit(), 3, kAudioUnitScope_Global, kAudioUnitErr_InvalidParameter},
        {unit->audioUnit(), 4, kAudioUnitScope_Global, kAudioUnitErr_InvalidParameter},
        {unit->audioUnit(), 3, kAudioUnitScope_Input, kAudioUnitErr_InvalidParameter},
        {unit->audioUnit(), 3, kAudioUnitScope_Global, noErr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AudioUnitSetParameter(c.handle, c.id, c.scope, 0, 880, 0), c.expected) << c.id << " " << c.scope;
        AudioUnitParameterValue value = -1;
        EXPECT_EQ(AudioUnitGetParameter(c.handle, c.id, c.scope, 0, &value), c.expected);
    }
    AudioUnitParameterValue value = 0;
    ASSERT_EQ(AudioUnitGetParameter(unit->audioUnit(), 3, kAudioUnitScope_Global, 0, &value), noErr);
    EXPECT_EQ(value, 880.f);
    EXPECT_EQ(AudioUnitGetProperty(unit->audioUnit(), 2000, kAudioUnitScope_Global, 0, &value, nullptr), kAudio_ParamError);
    uint32_t size = 4;
    EXPECT_EQ(AudioUnitGetProperty(unit->audioUnit(), 2000, kAudioUnitScope_Global, 0, &value, &size),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(AudioUnitReset(nullptr, kAudioUnitScope_Global, 0), kAudio_ParamError);
}

TEST(AUAudioUnitBusArray, ChangesCountOnlyWhereAllowed) {
    const auto format = AVAudioFormat::standardFormatWithSampleRate(48000, 1);
    AUAudioUnitBusArray fixed(AUAudioUnitBusType::input, 1, format);
    NSError error;
    EXPECT_FALSE(fixed.setBusCount(2, &error));
    EXPECT_EQ(error.code, kAudioUnitErr_PropertyNotWritable);
    EXPECT_EQ(fixed.count(), 1u);
    EXPECT_EQ(fixed.maximumCount(), 1u);

    AUAudioUnitBusArray mixer(AUAudioUnitBusType::input, 1, format, true, 1024);
    std::vector<std::pair<uint32_t, uint32_t>> changes;
    mixer.countChangeHandler = [&](uint32_t from, uint32_t to) {
        changes.emplace_back(from, to);
        return to != 7;  // the owner may refuse
    };
    EXPECT_TRUE(mixer.setBusCount(1024));
    EXPECT_EQ(mixer.count(), 1024u);
    EXPECT_EQ(mixer[1023]->index(), 1023u);
    EXPECT_EQ(mixer[1023]->format(), format);
    EXPECT_EQ(mixer[1024], nullptr);
    EXPECT_FALSE(mixer.setBusCount(1025, &error));
    EXPECT_FALSE(mixer.setBusCount(7, &error));
    EXPECT_TRUE(mixer.setBusCount(2));
    EXPECT_EQ(mixer.count(), 2u);
    EXPECT_EQ(changes, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 1024}, {1024, 7}, {1024, 2}}));
}

TEST(TestGainUnit, RampsScheduledGainAndRecordsMIDI) {
    auto unit = std::make_shared<testunits::TestGainUnit>();
    EXPECT_EQ(unit->inputBusses().count(), 2u);
    ASSERT_TRUE(unit->allocateRenderResources());
    Buffers in(2, 64, 1.f), out(2, 64, 9.f);
    auto render = [&] {
        auto pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames, NSInteger,
                        AudioBufferList* list) {
            for (uint32_t c = 0; c < 2; ++c) std::copy_n(in.samples[c].data(), frames, static_cast<float*>(list->mBuffers[c].mData));
            return noErr;
        };
        AudioUnitRenderActionFlags flags = 0;
        AudioTimeStamp time;
        time.mSampleTime = 1000;
        time.mFlags = kAudioTimeStampSampleTimeValid;
        return unit->renderBlock()(&flags, &time, 64, 0, out.list(), pull);
    };

    // Ramp 1 → 0 over 32 frames, starting 16 frames into the cycle.
    unit->scheduleParameterBlock()(AUEventSampleTimeImmediate + 16, 32, testunits::TestGainUnit::kGainAddress, 0);
    ASSERT_EQ(render(), noErr);
    for (int c = 0; c < 2; ++c) {
        EXPECT_FLOAT_EQ(out.samples[c][15], 1.f);
        EXPECT_FLOAT_EQ(out.samples[c][16], 1.f);
        EXPECT_NEAR(out.samples[c][32], 0.5f, 1e-5);
        EXPECT_NEAR(out.samples[c][47], 1.f / 32, 1e-5);
        EXPECT_FLOAT_EQ(out.samples[c][48], 0.f);
    }

    // A plain parameter write jumps; bypass passes the input through.
    EXPECT_EQ(AudioUnitSetParameter(unit->audioUnit(), 0, kAudioUnitScope_Global, 0, 2, 0), noErr);
    ASSERT_EQ(render(), noErr);
    EXPECT_FLOAT_EQ(out.samples[0][0], 2.f);
    unit->setShouldBypassEffect(true);
    ASSERT_EQ(render(), noErr);
    EXPECT_FLOAT_EQ(out.samples[1][63], 1.f);

    const uint8_t noteOn[] = {0x90, 60, 100};
    ASSERT_TRUE(unit->scheduleMIDIEventBlock());
    unit->scheduleMIDIEventBlock()(AUEventSampleTimeImmediate + 5, 0, 3, noteOn);
    EXPECT_EQ(unit->receivedMIDIBytes(), (std::vector<uint8_t>{0x90, 60, 100}));
    EXPECT_EQ(unit->receivedMIDIEventTimes(), std::vector<AUEventSampleTime>{AUEventSampleTimeImmediate + 5});

    // Reset drops a pending event: a later render does not ramp to it.
    unit->setShouldBypassEffect(false);
    unit->scheduleParameterBlock()(AUEventSampleTimeImmediate, 0, 0, 0.5f);
    EXPECT_EQ(AudioUnitReset(unit->audioUnit(), kAudioUnitScope_Global, 0), noErr);
    ASSERT_EQ(render(), noErr);
    EXPECT_FLOAT_EQ(out.samples[0][63], 2.f);
}

TEST(AVAudioUnit, WrapsItsUnitAndHandle) {
    auto unit = std::make_shared<testunits::TestGainUnit>(AVAudioFormat::standardFormatWithSampleRate(48000, 2));
    auto node = std::make_shared<AVAudioUnit>(unit);
    EXPECT_EQ(node->audioUnit(), unit->audioUnit());
    EXPECT_EQ(AUAudioUnit::fromAudioUnit(node->audioUnit()), unit.get());
    EXPECT_EQ(node->numberOfInputs(), 2u);
    EXPECT_EQ(node->numberOfOutputs(), 1u);
    EXPECT_EQ(node->outputFormat(0).sampleRate(), 48000);
    EXPECT_EQ(node->audioComponentDescription().componentType, kAudioUnitType_Effect);

    AVAudioUnitSampler sampler;
    EXPECT_EQ(sampler.numberOfInputs(), 0u);
    EXPECT_TRUE(sampler.auAudioUnit()->scheduleMIDIEventBlock());
    EXPECT_EQ(sampler.audioComponentDescription().componentSubType, kAudioUnitSubType_Sampler);
    Buffers out(2, 32, 7.f);
    AudioTimeStamp time;
    ASSERT_TRUE(sampler.auAudioUnit()->allocateRenderResources());
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(sampler.auAudioUnit()->renderBlock()(&flags, &time, 32, 0, out.list(), nullptr), noErr);
    EXPECT_EQ(out.samples[0], std::vector<float>(32, 0.f));
}
