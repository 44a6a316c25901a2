// The render contract of an audio unit: allocation, the render block's checks, scheduled events in
// time order, render observers, the registry, and the engine's pull of an unconnected input.
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnit.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioMixerNode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// A music effect whose render records the events it receives and the order of its calls.
struct RecordingUnit : AUAudioUnit {
    explicit RecordingUnit(OSType type = kAudioUnitType_MusicEffect)
        : AUAudioUnit({type, FourCC("rcrd"), FourCC("Tmbr"), 0, 0}, 1, 1) {
        auto gain = AUParameterTree::createParameter("gain", "Gain", 5, 0, 1, 0, std::nullopt, 0xC2000000);
        setParameterTree(AUParameterTree::createTree({gain}));
        setInternalRenderBlock([this](AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                                      AUAudioFrameCount frames, NSInteger, AudioBufferList* out,
                                      const AURenderEvent* events, AURenderPullInputBlock pull) {
            calls.push_back("render");
            for (const AURenderEvent* e = events; e; e = e->head.next) received.push_back(*e);
            pullStatus = pull ? pull(flags, ts, frames, 0, out) : noErr;
            return noErr;
        });
    }
    std::vector<AURenderEvent> received;
    std::vector<std::string> calls;
    OSStatus pullStatus = noErr;
};

OSStatus renderAt(AUAudioUnit& unit, double sampleTime, AUAudioFrameCount frames) {
    std::vector<float> samples(size_t(frames) * 2 + 2);
    alignas(AudioBufferList) unsigned char storage[AudioBufferListSize(2)];
    auto* list = reinterpret_cast<AudioBufferList*>(storage);
    list->mNumberBuffers = 2;
    list->mBuffers[0] = {1, frames * 4, samples.data()};
    list->mBuffers[1] = {1, frames * 4, samples.data() + frames};
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp stamp;
    stamp.mSampleTime = sampleTime;
    stamp.mFlags = kAudioTimeStampSampleTimeValid;
    return unit.renderBlock()(&flags, &stamp, frames, 0, list, nullptr);
}

}  // namespace

TEST(AUAudioUnitRender, RefusesUnallocatedAndOversizedCycles) {
    auto unit = std::make_shared<RecordingUnit>();
    EXPECT_EQ(renderAt(*unit, 0, 64), kAudioUnitErr_Uninitialized);
    ASSERT_TRUE(unit->setMaximumFramesToRender(256));
    ASSERT_TRUE(unit->allocateRenderResources());
    EXPECT_FALSE(unit->setMaximumFramesToRender(512)) << "only while deallocated";
    EXPECT_EQ(renderAt(*unit, 0, 257), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_TRUE(unit->calls.empty());
    EXPECT_EQ(renderAt(*unit, 0, 256), noErr);
    EXPECT_EQ(unit->lastRenderTime().mFlags & kAudioTimeStampSampleTimeValid, kAudioTimeStampSampleTimeValid);

    // Formats: channel counts must agree, and a bus keeps its format while the unit renders.
    NSError error;
    EXPECT_FALSE(unit->inputBusses()[0]->setFormat(AVAudioFormat::standardFormatWithSampleRate(48000, 2), &error));
    unit->deallocateRenderResources();
    ASSERT_TRUE(unit->inputBusses()[0]->setFormat(AVAudioFormat::standardFormatWithSampleRate(44100, 1)));
    EXPECT_FALSE(unit->allocateRenderResources(&error));
    EXPECT_EQ(error.code, kAudioUnitErr_FormatNotSupported);
}

TEST(AUAudioUnitRender, EventsArriveSortedAtTheirCycle) {
    auto unit = std::make_shared<RecordingUnit>();
    ASSERT_TRUE(unit->allocateRenderResources());
    const auto schedule = unit->scheduleParameterBlock();
    const uint8_t note[] = {0x90, 60, 100};
    schedule(AUEventSampleTimeImmediate + 10, 0, 5, 0.5f);   // frame 1010
    schedule(1005, 32, 5, 0.25f);                             // absolute, ramped
    unit->scheduleMIDIEventBlock()(AUEventSampleTimeImmediate + 10, 0, 3, note);
    schedule(10, 0, 5, 0.75f);                                // past: the first frame
    schedule(AUEventSampleTimeImmediate + 600, 0, 5, 1.0f);   // the next cycle
    schedule(AUEventSampleTimeImmediate, 0, 99, 1.0f);        // no such parameter: dropped
    EXPECT_EQ(unit->parameterTree()->parameter(5)->value(), 0.0f) << "scheduling only queues";

    ASSERT_EQ(renderAt(*unit, 1000, 512), noErr);
    ASSERT_EQ(unit->received.size(), 4u);
    EXPECT_EQ(unit->received[0].head.eventSampleTime, 1000);
    EXPECT_EQ(unit->received[0].parameter.value, 0.75f);
    EXPECT_EQ(unit->received[1].head.eventSampleTime, 1005);
    EXPECT_EQ(unit->received[1].head.eventType, AURenderEventType::parameterRamp);
    EXPECT_EQ(unit->received[1].parameter.rampDurationSampleFrames, 32u);
    EXPECT_EQ(unit->received[2].parameter.value, 0.5f);
    EXPECT_EQ(unit->received[3].head.eventType, AURenderEventType::MIDI) << "equal times keep their order";
    EXPECT_EQ(unit->received[3].MIDI.data[2], 100);
    EXPECT_EQ(unit->parameterTree()->parameter(5)->value(), 0.5f) << "the applied value is stored";

    unit->received.clear();
    ASSERT_EQ(renderAt(*unit, 1512, 512), noErr);
    ASSERT_EQ(unit->received.size(), 1u);
    EXPECT_EQ(unit->received[0].head.eventSampleTime, 1600);

    // Overflow: the queue keeps 1024 and counts the rest.
    unit->received.clear();
    for (int i = 0; i < 1100; ++i) schedule(AUEventSampleTimeImmediate, 0, 5, float(i));
    EXPECT_EQ(unit->droppedEventCount(), 76u);
    ASSERT_EQ(renderAt(*unit, 2024, 512), noErr);
    EXPECT_EQ(unit->received.size(), 1024u);

    EXPECT_FALSE(std::make_shared<RecordingUnit>(kAudioUnitType_Effect)->scheduleMIDIEventBlock())
        << "only instruments and music effects take MIDI";
    EXPECT_TRUE(std::make_shared<RecordingUnit>(kAudioUnitType_MusicDevice)->scheduleMIDIEventBlock());
}

TEST(AUAudioUnitRender, ObserversRunAroundTheRenderAndMaySchedule) {
    auto unit = std::make_shared<RecordingUnit>();
    ASSERT_TRUE(unit->allocateRenderResources());
    const auto schedule = unit->scheduleParameterBlock();
    const NSInteger pre = unit->tokenByAddingRenderObserver(
        [&](AudioUnitRenderActionFlags flags, const AudioTimeStamp*, AUAudioFrameCount, NSInteger) {
            unit->calls.push_back(flags == kAudioUnitRenderAction_PreRender ? "pre" : "post");
            if (flags == kAudioUnitRenderAction_PreRender) schedule(AUEventSampleTimeImmediate, 0, 5, 0.5f);
        });
    ASSERT_EQ(renderAt(*unit, 0, 64), noErr);
    EXPECT_EQ(unit->calls, (std::vector<std::string>{"pre", "render", "post"}));
    EXPECT_EQ(unit->received.size(), 1u) << "scheduled in the pre-render observer, handed in the same cycle";
    unit->removeRenderObserver(pre);
    unit->calls.clear();
    ASSERT_EQ(renderAt(*unit, 64, 64), noErr);
    EXPECT_EQ(unit->calls, std::vector<std::string>{"render"});

    // Observers come and go on this thread while another renders.
    std::atomic<bool> done{false};
    std::atomic<int> seen{0};
    std::thread renderer([&] {
        double t = 128;
        while (!done.load()) {
            renderAt(*unit, t, 64);
            t += 64;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const auto token = unit->tokenByAddingRenderObserver(
            [&seen](AudioUnitRenderActionFlags, const AudioTimeStamp*, AUAudioFrameCount, NSInteger) { ++seen; });
        unit->removeRenderObserver(token);
    }
    done = true;
    renderer.join();
}

TEST(AUAudioUnitRender, RemovingAnObserverWaitsForTheCycleThatRunsIt) {
    auto unit = std::make_shared<RecordingUnit>();
    ASSERT_TRUE(unit->allocateRenderResources());
    std::atomic<bool> done{false};
    std::thread renderer([&] {
        double t = 0;
        while (!done.load()) {
            renderAt(*unit, t, 64);
            t += 64;
        }
    });
    for (int i = 0; i < 200; ++i) {
        // What the observer uses goes away right after the removal returns.
        auto inside = std::make_unique<std::atomic<int>>(0);
        std::atomic<bool> entered{false};
        const auto token = unit->tokenByAddingRenderObserver(
            [counter = inside.get(), &entered](AudioUnitRenderActionFlags, const AudioTimeStamp*, AUAudioFrameCount,
                                               NSInteger) {
                counter->fetch_add(1);
                entered = true;
                for (int spin = 0; spin < 2000; ++spin) counter->load();
                counter->fetch_sub(1);
            });
        while (!entered.load()) std::this_thread::yield();
        unit->removeRenderObserver(token);
        EXPECT_EQ(inside->load(), 0);
        inside.reset();
    }
    done = true;
    renderer.join();
}

TEST(AUAudioUnitRegistry, InstantiatesRegisteredClassesAndReplaces) {
    const AudioComponentDescription description{kAudioUnitType_MusicEffect, FourCC("tstr"), FourCC("Tmbr"), 0, 0};
    int made = 0;
    AUAudioUnit::registerSubclass(
        [&](const AudioComponentDescription& d, AudioComponentInstantiationOptions, NSError*) {
            ++made;
            return std::make_shared<AUAudioUnit>(d, 1, 1);
        },
        description, "First", 1);
    AUAudioUnit::registerSubclass(
        [&](const AudioComponentDescription& d, AudioComponentInstantiationOptions, NSError*) {
            made += 10;
            return std::make_shared<AUAudioUnit>(d, 2, 1);
        },
        description, "Second", 2);
    bool completed = false;
    AVAudioUnit::instantiate(description, 0, [&](std::shared_ptr<AVAudioUnit> node, std::optional<NSError> error) {
        completed = true;
        ASSERT_TRUE(node);
        EXPECT_FALSE(error);
        EXPECT_EQ(node->numberOfInputs(), 2u);
        EXPECT_EQ(node->name(), "Second");
    });
    EXPECT_TRUE(completed) << "completes before returning";
    EXPECT_EQ(made, 10);

    completed = false;
    AVAudioUnit::instantiate({kAudioUnitType_Effect, FourCC("none"), FourCC("Tmbr"), 0, 0}, 0,
                             [&](std::shared_ptr<AVAudioUnit> node, std::optional<NSError> error) {
                                 completed = true;
                                 EXPECT_FALSE(node);
                                 EXPECT_TRUE(error);
                             });
    EXPECT_TRUE(completed);
}

TEST(AUAudioUnitRender, AnUnconnectedInputPullsZerosAndNoConnection) {
    auto unit = std::make_shared<RecordingUnit>();
    auto node = std::make_shared<AVAudioUnit>(unit);
    auto engine = AVAudioEngine::make();
    engine->attach(node);
    std::shared_ptr<AVAudioNode> mixer = engine->mainMixerNode();
    engine->connect(node, mixer, std::optional<AVAudioFormat>());
    const auto format = AVAudioFormat::standardFormatWithSampleRate(44100, 2);
    engine->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline, format, 512);
    engine->start();
    auto buffer = AVAudioPCMBuffer::make(format, 512);
    EXPECT_EQ(engine->renderOffline(512, *buffer), AVAudioEngineManualRenderingStatus::success);
    EXPECT_EQ(unit->pullStatus, kAudioUnitErr_NoConnection);
    EXPECT_EQ(buffer->floatChannelData()[0][100], 0.0f);
    EXPECT_EQ(unit->maximumFramesToRender(), 512u) << "the engine sets it before allocating";
    EXPECT_TRUE(unit->renderResourcesAllocated());
}
