// The layer's own unit and its nodes in an engine: buses and buffers, parameters through the tree,
// MIDI triggers, the Fader and limiter rendered offline, and automation.
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/NodeParameterAutomation.h"
#include "SonoraEX/AutomationCurve.h"
#include "SonoraEX/Kernels/KernelBridge.h"
#include "SonoraEX/Node+SonoraAU.h"
#include "SonoraEX/Nodes/CallbackInstrument.h"
#include "SonoraEX/Nodes/Fader.h"
#include "SonoraEX/Nodes/StereoFieldLimiter.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioSourceNode.h"

#include "main/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

using namespace platform;
using namespace sonora;

namespace {

// A stereo source of f(channel, frame), frames counted from its first render.
class Source : public Node {
public:
    explicit Source(std::function<float(uint32_t, int64_t)> f) {
        auto frame = std::make_shared<int64_t>(0);
        node_ = std::make_shared<AVAudioSourceNode>([f, frame](bool&, const AudioTimeStamp&, AVAudioFrameCount n,
                                                               AudioBufferList* out) {
            for (uint32_t c = 0; c < out->mNumberBuffers; ++c)
                for (uint32_t i = 0; i < n; ++i) static_cast<float*>(out->mBuffers[c].mData)[i] = f(c, *frame + i);
            *frame += n;
            return noErr;
        });
    }
    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<AVAudioNode> avAudioNode() const override { return node_; }

private:
    std::shared_ptr<AVAudioSourceNode> node_;
};

std::shared_ptr<Source> stereo(float left, float right) {
    return std::make_shared<Source>([=](uint32_t c, int64_t) { return c == 0 ? left : right; });
}

// Renders `frames` frames of the node as the engine's output, offline in cycles of 512.
std::vector<std::vector<float>> render(const std::shared_ptr<Node>& node, int64_t frames,
                                       const std::function<void()>& beforeStart = {}) {
    AudioEngine engine;
    engine.setOutput(node);
    engine.maximumFrameCount = 512;
    engine.avEngine()->enableManualRenderingMode(AVAudioEngineManualRenderingMode::offline,
                                                 AVAudioFormat::standardFormatWithSampleRate(44100, 2), 512);
    if (beforeStart) beforeStart();
    engine.start();
    auto buffer = AVAudioPCMBuffer::make(engine.avEngine()->manualRenderingFormat(), 512);
    std::vector<std::vector<float>> out(2);
    for (int64_t done = 0; done < frames; done += 512) {
        const auto n = AVAudioFrameCount(std::min<int64_t>(512, frames - done));
        EXPECT_EQ(engine.avEngine()->renderOffline(n, *buffer), AVAudioEngineManualRenderingStatus::success);
        for (int c = 0; c < 2; ++c) out[c].insert(out[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + n);
    }
    engine.stop();
    return out;
}

void pumpMainLoop(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

TEST(SonoraAU, BusesBuffersAndParametersReachTheKernel) {
    auto fader = instantiateEffect("fder");
    auto limiter = instantiateEffect("sflm");
    auto& unit = dynamic_cast<SonoraAU&>(*fader->auAudioUnit());
    EXPECT_EQ(unit.channelCapabilities(), (std::vector<int>{2, 2}));
    EXPECT_EQ(&unit.inputBusses(), &unit.inputBusses()) << "the same array on every read";
    EXPECT_EQ(unit.inputBusses().count(), 1u);
    EXPECT_EQ(unit.outputBusses().count(), 1u);
    EXPECT_EQ(unit.componentDescription().componentManufacturer, FourCC("AuKt"));
    EXPECT_EQ(unit.audioUnitName, "Local internal AU");
    ASSERT_TRUE(unit.allocateRenderResources());
    EXPECT_EQ(unit.internalBufferCount(), 0u) << "in place with one input: no buffer";
    auto& limiterUnit = dynamic_cast<SonoraAU&>(*limiter->auAudioUnit());
    ASSERT_TRUE(limiterUnit.allocateRenderResources());
    EXPECT_EQ(limiterUnit.internalBufferCount(), 1u);
    EXPECT_FALSE(limiterUnit.setMaximumFramesToRender(128)) << "only while deallocated";
    limiterUnit.deallocateRenderResources();
    EXPECT_EQ(limiterUnit.internalBufferCount(), 0u);
    EXPECT_TRUE(limiterUnit.setMaximumFramesToRender(128));

    // The tree's value observer and provider go to the kernel; the display text has two decimals.
    auto gain = AUParameterTree::createParameter("g", "G", 1, 0, 4, 0, std::nullopt, 0xC2000000);
    unit.setParameterTree(AUParameterTree::createTree({gain}));
    gain->setValue(0.5f);
    EXPECT_EQ(akDSPGetParameter(unit.kernel(), 1), 0.5f);
    EXPECT_EQ(gain->value(), 0.5f);
    const AUValue half = 0.5f;
    EXPECT_EQ(gain->stringFromValue(&half), "0.50");
    EXPECT_EQ(unit.parameterTree()->implementorStringFromValueCallback(gain.get(), nullptr), "Invalid");
    unit.setShouldBypassEffect(true);
    EXPECT_TRUE(akDSPGetBypass(unit.kernel()));

    // Programming errors.
    EXPECT_THROW(instantiateEffect("none"), std::logic_error) << "no kernel: no unit";
    EXPECT_THROW(kernelAU(*stereo(0, 0)), std::logic_error);
    EXPECT_THROW(unit.setWavetable(nullptr, 0, int64_t(1) << 40), std::logic_error);
    auto generator = instantiateGenerator("fder");
    EXPECT_THROW(dynamic_cast<SonoraAU&>(*generator->auAudioUnit()).gateOn(), std::logic_error)
        << "a generator takes no MIDI";
}

TEST(CallbackInstrument, DeliversScheduledNotesInOrderOffTheRenderThread) {
    std::vector<std::array<uint8_t, 3>> received;
    const auto mainThread = std::this_thread::get_id();
    bool onMain = true;
    auto instrument = std::make_shared<CallbackInstrument>([&](uint8_t a, uint8_t b, uint8_t c) {
        received.push_back({a, b, c});
        onMain = onMain && std::this_thread::get_id() == mainThread;
    });
    render(instrument, 512, [&] {
        playNote(*instrument, 60, 100);
        kernelAU(*instrument).sendNoteOn(61, 90);
        gateOff(*instrument);
    });
    EXPECT_TRUE(received.empty()) << "nothing reaches the closure on the render thread";
    // The drain timer hands them over when the main loop next runs it, which a loaded machine may delay.
    EXPECT_TRUE(testsupport::spinUntil([&] { return received.size() >= 3; }));
    pumpMainLoop(50);
    EXPECT_EQ(received, (std::vector<std::array<uint8_t, 3>>{{144, 60, 100}, {144, 61, 90}, {0x90, 64, 0}}));
    EXPECT_TRUE(onMain);

    // 1100 notes in one cycle: the queue keeps 1024, the ring 1023.
    received.clear();
    render(instrument, 512, [&] {
        for (int i = 0; i < 1100; ++i) kernelAU(*instrument).sendNoteOn(uint8_t(i % 128), 1);
    });
    EXPECT_TRUE(testsupport::spinUntil([&] { return received.size() >= 1023; }));
    pumpMainLoop(50);  // anything past the ring's capacity would arrive meanwhile
    EXPECT_EQ(received.size(), 1023u);
    EXPECT_EQ(kernelAU(*instrument).droppedEventCount(), 76u);
}

TEST(Fader, GainsSwitchesAndDecibels) {
    auto fader = std::make_shared<Fader>(stereo(1.0f, 0.5f), 0.25f);
    EXPECT_EQ(fader->gain(), 0.25f) << "the initial gain is what it plays at";
    EXPECT_EQ(float(fader->leftGain), 0.25f);
    auto out = render(fader, 1024);
    EXPECT_EQ(out[0][1000], 0.25f);
    EXPECT_EQ(out[1][1000], 0.125f);

    fader->setGain(0.5f);
    EXPECT_EQ(float(fader->rightGain), 0.5f);
    EXPECT_NEAR(fader->gainDecibels(), -6.0206f, 1e-4);
    fader->setGainDecibels(0);
    EXPECT_EQ(float(fader->leftGain), 1.0f);
    fader->flipStereo = true;
    out = render(fader, 1024);
    EXPECT_EQ(out[0][1000], 0.5f);
    EXPECT_EQ(out[1][1000], 1.0f);
    fader->mixToMono = true;
    out = render(fader, 1024);
    EXPECT_EQ(out[0][1000], 0.75f);
    EXPECT_EQ(out[1][1000], 0.75f);
    fader->leftGain = -1;
    EXPECT_EQ(float(fader->leftGain), 0.0f) << "clamped to the gain range";
}

TEST(StereoFieldLimiter, NarrowsAndGlides) {
    auto limiter = std::make_shared<StereoFieldLimiter>(stereo(1.0f, 0.0f), 1.0f);
    auto out = render(limiter, 1024);
    EXPECT_EQ(out[0][100], 0.5f);
    EXPECT_EQ(out[1][100], 0.5f);
    limiter->amount = 2;
    EXPECT_EQ(float(limiter->amount), 1.0f);
}

TEST(Automation, FaderGainFollowsEventsOnTheirFrames) {
    auto fader = std::make_shared<Fader>(stereo(0.5f, 0.5f), 0.0f);
    const auto out = render(fader, 44100, [&] { fader->automateGain({{1.0f, 0.3f, 0.5f}}); });
    for (int64_t n : {0L, 13229L, 13230L, 13231L, 20000L, 35280L, 35281L, 44099L}) {
        const double expected = 0.5 * std::clamp((double(n) - 13230) / 22050, 0.0, 1.0);
        EXPECT_NEAR(out[0][n], expected, 5e-6) << n;
        EXPECT_NEAR(out[1][n], expected, 5e-6) << n;
    }
}

TEST(Automation, ObserverSchedulesCatchUpNegativeOffsetsAndOnlyBeforeRenders) {
    struct Call {
        int64_t time;
        uint32_t ramp;
        float value;
    };
    std::vector<Call> calls;
    AUScheduleParameterBlock block = [&](AUEventSampleTime t, AUAudioFrameCount ramp, AUParameterAddress, AUValue v) {
        calls.push_back({t, ramp, v});
    };
    const std::vector<AutomationEvent> events{{0.2f, 0.5f, 0.0f}, {0.1f, 0.0f, 0.01f}, {0.9f, 1.0f, 1.0f}, {0.3f, 1.5f, 0.0f}};
    auto observer = createAutomationRenderObserver(7, block, events.data(), events.size(), 1000, 0);
    ASSERT_TRUE(observer);
    AudioTimeStamp stamp;
    stamp.mSampleTime = 1200;  // 1.2 s: the first two are over, the third is under way
    observer(kAudioUnitRenderAction_PostRender, &stamp, 100, 0);
    EXPECT_TRUE(calls.empty()) << "flags other than exactly PreRender change nothing";
    observer(kAudioUnitRenderAction_PreRender, &stamp, 100, 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].time, AUEventSampleTimeImmediate);
    EXPECT_EQ(calls[0].ramp, 0u);
    EXPECT_EQ(calls[0].value, 0.2f) << "one immediate value, the last over";
    EXPECT_EQ(calls[1].time, AUEventSampleTimeImmediate);
    EXPECT_NEAR(double(calls[1].ramp), 800, 1) << "the ramp shortened by what has passed";
    EXPECT_EQ(calls[1].value, 0.9f);
    stamp.mSampleTime = 1450;
    observer(kAudioUnitRenderAction_PreRender, &stamp, 100, 0);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].time, AUEventSampleTimeImmediate + 50) << "an offset into the cycle, not a sample time";

    // Unbound parameters cannot automate; events with times that are not numbers are dropped.
    NodeParameter unbound(Fader::leftGainDef());
    EXPECT_THROW(unbound.automate({}), std::logic_error);
}

TEST(AutomationCurve, EvaluateTable) {
    using P = ParameterAutomationPoint;
    struct Case {
        const char* name;
        std::vector<P> points;
        float resolution;
        std::vector<AutomationEvent> expected;
    };
    const std::vector<Case> cases = {
        {"linear points are one event each", {P(1, 0, 0.5f), P(0, 2, 0)}, 0.1f, {{1, 0, 0.5f}, {0, 2, 0}}},
        {"taper 2", {P(1, 0, 1, 2)}, 0.25f, {{0.0625f, 0, 0.25f}, {0.25f, 0.25f, 0.25f}, {0.5625f, 0.5f, 0.25f}, {1, 0.75f, 0.25f}}},
        {"taper 2 at 10 s", {P(1, 10, 1, 2)}, 0.25f,
         {{0.0625f, 10, 0.25f}, {0.25f, 10.25f, 0.25f}, {0.5625f, 10.5f, 0.25f}, {1, 10.75f, 0.25f}}},
        {"a 0.6 s ramp ends on its target", {P(1, 0, 0.6f, 2)}, 0.25f,
         {{float(std::pow(0.25 / 0.6, 2)), 0, 0.25f}, {float(std::pow(0.5 / 0.6, 2)), 0.25f, 0.25f}, {1, 0.5f, 0.25f}}},
        {"cut at the next point", {P(1, 0, 1, 2), P(0, 0.5f, 0)}, 0.25f,
         {{0.0625f, 0, 0.25f}, {0.25f, 0.25f, 0.25f}, {0, 0.5f, 0}}},
        {"empty", {}, 0.25f, {}},
    };
    for (const Case& c : cases) {
        const auto events = AutomationCurve{c.points}.evaluate(0, c.resolution);
        ASSERT_EQ(events.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < events.size(); ++i) {
            EXPECT_NEAR(events[i].targetValue, c.expected[i].targetValue, 1e-5) << c.name << " " << i;
            EXPECT_NEAR(events[i].startTime, c.expected[i].startTime, 1e-6) << c.name << " " << i;
            EXPECT_NEAR(events[i].rampDuration, c.expected[i].rampDuration, 1e-6) << c.name << " " << i;
        }
    }
    for (const float bad : {0.0f, -1.0f, NAN})
        EXPECT_THROW(AutomationCurve{{P(1, 0, 1, 2)}}.evaluate(0, bad), std::invalid_argument) << bad;
}

TEST(AutomationCurve, ReplacingTable) {
    using P = ParameterAutomationPoint;
    const AutomationCurve curve{{P(1, 0, 0), P(2, 1, 0), P(3, 2, 0), P(4, 3, 0)}};
    struct Case {
        ClosedRange<float> range;
        std::vector<std::pair<float, float>> pairs;
        std::vector<std::pair<float, float>> expected;  // start, target
    };
    for (const Case& c : std::vector<Case>{{{1, 2}, {}, {{0, 1}, {3, 4}}},
                                           {{1, 2}, {{1.5f, 9}, {0, 8}}, {{0, 1}, {0, 8}, {1.5f, 9}, {3, 4}}},
                                           {{5, 6}, {}, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}}}) {
        const auto replaced = curve.replacing(c.range, c.pairs);
        ASSERT_EQ(replaced.points.size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(replaced.points[i].startTime, c.expected[i].first);
            EXPECT_EQ(replaced.points[i].targetValue, c.expected[i].second);
        }
    }
    EXPECT_EQ(curve.points.size(), 4u) << "the receiver is not changed";
    EXPECT_EQ(curve.replacing({1, 2}, {{1.5f, 9}}).points[1].rampDuration, 0.01f);
}
