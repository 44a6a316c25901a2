// The kernel base driven by hand-made buffer lists and event lists, and the kernels' own math.
#include "SonoraEX/Kernels/CallbackInstrumentDSP.h"
#include "SonoraEX/Kernels/DSPBase.h"
#include "SonoraEX/Kernels/FaderDSP.h"
#include "SonoraEX/Kernels/KernelBridge.h"
#include "SonoraEX/Kernels/StereoFieldLimiterDSP.h"
#include "SonoraEX/support/Lists.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

using namespace platform;
using namespace sonora;
using sonoraex_test::Lists;

namespace {

// Writes its first slot's value (address 0) into every output channel; slots 0 and 2 exist,
// address 1 has none.
class SlotKernel : public DSPBase {
public:
    explicit SlotKernel(bool inPlace = false, int inputs = 1) : DSPBase(inputs, inPlace) {
        rampSlots[0] = &a;
        rampSlots[2] = &c;
    }
    void process(FrameSpan span) override {
        for (uint32_t i = span.start; i < span.start + span.count; ++i) {
            const float v = a.next();
            for (uint32_t ch = 0; ch < outputChannelCount(); ++ch) outputChannel(ch)[i] = v;
        }
    }
    ParameterRampSlot a{0.0f};
    ParameterRampSlot c{0.0f};
};

AURenderEvent parameterEvent(int64_t time, uint64_t address, float value, uint32_t ramp) {
    AURenderEvent e{};
    e.parameter.eventSampleTime = time;
    e.parameter.eventType = ramp ? AURenderEventType::parameterRamp : AURenderEventType::parameter;
    e.parameter.parameterAddress = address;
    e.parameter.value = value;
    e.parameter.rampDurationSampleFrames = ramp;
    return e;
}

// Links the events into a list (in the given order).
const AURenderEvent* link(std::vector<AURenderEvent>& events) {
    for (size_t i = 0; i < events.size(); ++i) events[i].head.next = i + 1 < events.size() ? &events[i + 1] : nullptr;
    return events.empty() ? nullptr : &events[0];
}

}  // namespace

TEST(DSPBase, RampsJumpsAndEventsLandOnTheirFrames) {
    struct Case {
        const char* name;
        bool initialized;
        std::vector<std::pair<float, bool>> sets;  // value, immediate (before the render)
        std::vector<AURenderEvent> events;         // sample times from 1000
        uint32_t frames;
        std::vector<std::pair<uint32_t, float>> expected;  // frame, value
        float target;
    };
    const float step = 1.0f / 881;
    const std::vector<Case> cases = {
        {"deferred set ramps over 881 frames", true, {{1, false}}, {}, 1024, {{0, 0}, {1, step}, {440, 440 * step}, {881, 1}, {1000, 1}}, 1},
        {"immediate set jumps", true, {{0.5f, true}}, {}, 16, {{0, 0.5f}, {15, 0.5f}}, 0.5f},
        {"a set before init jumps", false, {{0.25f, false}}, {}, 16, {{0, 0.25f}}, 0.25f},
        {"ramp event starts at its frame", true, {}, {parameterEvent(1010, 0, 1, 10)}, 32,
         {{9, 0}, {10, 0}, {11, 0.1f}, {15, 0.5f}, {20, 1}, {31, 1}}, 1},
        {"simultaneous events: both before the frame", true, {},
         {parameterEvent(1004, 0, 3, 0), parameterEvent(1004, 0, 2, 0)}, 8, {{3, 0}, {4, 2}, {7, 2}}, 2},
        {"a past event comes before the first frame", true, {}, {parameterEvent(900, 0, 0.75f, 0)}, 4, {{0, 0.75f}}, 0.75f},
        {"an event for an address without a slot is ignored", true, {}, {parameterEvent(1000, 1, 9, 0)}, 4, {{0, 0}}, 0},
        {"an event past the buffer's end is not handled", true, {}, {parameterEvent(1100, 0, 1, 0)}, 8, {{7, 0}}, 0},
    };
    for (const Case& c : cases) {
        SlotKernel kernel;
        if (c.initialized) kernel.init(2, 44100);
        for (const auto& [value, immediate] : c.sets) kernel.setParameter(0, value, immediate);
        std::vector<AURenderEvent> events = c.events;
        Lists lists(2, c.frames, 0.0f);
        const OSStatus status = lists.render(kernel, 1000, c.frames, link(events));
        ASSERT_EQ(status, noErr) << c.name;
        for (const auto& [frame, value] : c.expected) {
            EXPECT_NEAR(lists.out[0][frame], value, 1e-5) << c.name << " frame " << frame;
            EXPECT_NEAR(lists.out[1][frame], value, 1e-5) << c.name << " frame " << frame;
        }
        EXPECT_EQ(kernel.getParameter(0), c.target) << c.name << ": getParameter gives the target";
    }
}

TEST(DSPBase, RestartMidRampZeroFramesAndNullSlots) {
    SlotKernel kernel;
    kernel.init(2, 44100);
    kernel.setParameter(0, 1, false);
    Lists lists(2, 441, 0.0f);
    ASSERT_EQ(lists.render(kernel, 0, 441, nullptr), noErr);
    const float reached = kernel.a.value();
    EXPECT_NEAR(reached, 441.0f / 881, 1e-5);
    // A second set restarts from the value reached, again over the full 881 frames.
    kernel.setParameter(0, 0, false);
    Lists more(2, 881, 0.0f);
    ASSERT_EQ(more.render(kernel, 441, 881, nullptr), noErr);
    EXPECT_NEAR(more.out[0][0], reached, 1e-5);
    EXPECT_NEAR(more.out[0][880], reached / 881, 1e-5);
    EXPECT_EQ(kernel.getParameter(0), 0.0f);

    // Frame count 0 restarts changed ramps but handles no event.
    kernel.setParameter(0, 0.5f, false);
    std::vector<AURenderEvent> events{parameterEvent(0, 0, 9, 0)};
    Lists none(2, 1, 0.0f);
    ASSERT_EQ(none.render(kernel, 2000, 0, link(events)), noErr);
    EXPECT_EQ(kernel.a.remaining, 881u);
    EXPECT_EQ(kernel.getParameter(0), 0.5f);

    // The null slot at address 1 stops the restart walk: address 2 never ramps on a deferred set.
    kernel.setParameter(2, 1, false);
    ASSERT_EQ(none.render(kernel, 2000, 0, nullptr), noErr);
    EXPECT_EQ(kernel.c.remaining, 0u);
    EXPECT_EQ(kernel.getParameter(1), 0.0f);
    EXPECT_EQ(kernel.getParameter(200), 0.0f);
    kernel.setParameter(200, 1, true);  // ignored
}

TEST(DSPBase, BypassCopiesOrLeavesInPlaceAndKeepsRampTiming) {
    for (const bool inPlace : {false, true}) {
        SlotKernel kernel(inPlace);
        kernel.init(2, 44100);
        kernel.setParameter(0, 1, false);
        kernel.setBypass(true);
        EXPECT_TRUE(kernel.bypassed());
        Lists lists(2, 100, 0.0f);
        lists.fillInput(0.3f);
        ASSERT_EQ(lists.render(kernel, 0, 100, nullptr), noErr);
        EXPECT_EQ(lists.out[0][99], 0.3f) << (inPlace ? "in place: the pulled input stays" : "copied input");
        EXPECT_EQ(kernel.a.remaining, 781u) << "the ramp is shorter by the bypassed frames";
    }
    // Not in place and nothing pulled: silence, not stale memory.
    SlotKernel kernel;
    kernel.init(2, 44100);
    kernel.setBypass(true);
    Lists lists(2, 16, 7.0f);
    ASSERT_EQ(lists.renderWithoutPull(kernel, 0, 16), noErr);
    EXPECT_EQ(lists.out[1][15], 0.0f);
    // Another output bus is refused.
    EXPECT_NE(lists.render(kernel, 0, 16, nullptr, 1), noErr);
}

TEST(FaderDSP, GainsSwitchesAndMonoLists) {
    struct Case {
        const char* name;
        float lg, rg;
        bool flip, mono;
        float L, R, outL, outR;
    };
    for (const Case& c : std::vector<Case>{{"unity", 1, 1, false, false, 0.3f, -0.2f, 0.3f, -0.2f},
                                           {"flip", 2, 3, true, false, 1, 0.5f, 1, 3},
                                           {"mono ignores flip", 1, 1, true, true, 1, 0, 0.5f, 0.5f},
                                           {"gains", 0.5f, 0.25f, false, false, 1, 1, 0.5f, 0.25f}}) {
        FaderDSP fader;
        fader.setParameter(0, c.lg, true);
        fader.setParameter(1, c.rg, true);
        fader.setParameter(2, c.flip ? 1 : 0, true);
        fader.setParameter(3, c.mono ? 1 : 0, true);
        fader.init(2, 44100);
        Lists lists(2, 8, 0.0f);
        lists.in[0].assign(8, c.L);
        lists.in[1].assign(8, c.R);
        ASSERT_EQ(lists.render(fader, 0, 8, nullptr), noErr);
        EXPECT_FLOAT_EQ(lists.out[0][7], c.outL) << c.name;
        EXPECT_FLOAT_EQ(lists.out[1][7], c.outR) << c.name;
    }
    FaderDSP fader;
    fader.setParameter(2, 0.5f, true);
    EXPECT_EQ(fader.getParameter(2), 0.0f) << "on only above 0.5";
    fader.setParameter(3, 0.51f, true);
    EXPECT_EQ(fader.getParameter(3), 1.0f);

    // A mono list: one buffer read and written, nothing beyond it.
    FaderDSP mono;
    mono.setParameter(0, 0.5f, true);
    mono.init(1, 44100);
    Lists one(1, 8, 0.0f);
    one.in[0].assign(8, 0.8f);
    ASSERT_EQ(one.render(mono, 0, 8, nullptr), noErr);
    EXPECT_FLOAT_EQ(one.out[0][3], 0.4f);
}

// Gains ramping over different lengths, set mid-buffer and overlapping: every frame equals the
// ramp's own value at that frame times the input, straight or flipped, on stereo and mono lists.
TEST(FaderDSP, RampsOfDifferentLengthsGiveEachFrameItsRampValue) {
    constexpr uint32_t kFrames = 512;
    for (const bool flip : {false, true}) {
        for (const uint32_t channels : {2u, 1u}) {
            FaderDSP fader;
            fader.setParameter(0, 0.5f, true);
            fader.setParameter(1, 2.0f, true);
            fader.setParameter(2, flip ? 1 : 0, true);
            fader.init(int(channels), 44100);
            std::vector<AURenderEvent> events{parameterEvent(10, 0, 1.0f, 100), parameterEvent(30, 1, 0.25f, 37),
                                              parameterEvent(50, 0, -0.75f, 301), parameterEvent(400, 1, 3.0f, 1000)};
            Lists lists(channels, kFrames, 0.0f);
            for (uint32_t c = 0; c < channels; ++c)
                for (uint32_t i = 0; i < kFrames; ++i) lists.in[c][i] = std::sin(0.01f * float(i * (c + 1))) + 0.1f;
            ASSERT_EQ(lists.render(fader, 0, kFrames, link(events)), noErr);

            ParameterRampSlot left{0.5f}, right{2.0f};
            size_t next = 0;
            for (uint32_t i = 0; i < kFrames; ++i) {
                for (; next < events.size() && events[next].parameter.eventSampleTime == int64_t(i); ++next) {
                    const auto& e = events[next].parameter;
                    (e.parameterAddress == 0 ? left : right).startRamp(e.rampDurationSampleFrames, e.value);
                }
                const float L = lists.in[0][i], R = lists.in[channels - 1][i];
                const float lg = left.next(), rg = right.next();
                const std::string where = std::string(flip ? "flipped " : "") + std::to_string(channels) +
                                          " channel(s), frame " + std::to_string(i);
                ASSERT_EQ(lists.out[0][i], lg * (flip && channels == 2 ? R : L)) << where;
                if (channels == 2) {
                    ASSERT_EQ(lists.out[1][i], rg * (flip ? L : R)) << where;
                }
            }
        }
    }
}

TEST(StereoFieldLimiterDSP, BlendsChannelsByAmount) {
    struct Case {
        float amount, L, R, outL, outR;
    };
    for (const Case& c : std::vector<Case>{{0, 0.3f, -0.7f, 0.3f, -0.7f}, {1, 1, 0, 0.5f, 0.5f}, {0.5f, 1, -1, 0.5f, -0.5f}}) {
        StereoFieldLimiterDSP limiter;
        limiter.setParameter(0, c.amount, true);
        limiter.init(2, 44100);
        Lists lists(2, 4, 0.0f);
        lists.in[0].assign(4, c.L);
        lists.in[1].assign(4, c.R);
        ASSERT_EQ(lists.render(limiter, 0, 4, nullptr), noErr);
        EXPECT_EQ(lists.out[0][3], c.outL) << c.amount;
        EXPECT_EQ(lists.out[1][3], c.outR) << c.amount;
    }
    StereoFieldLimiterDSP bypassed;
    bypassed.init(2, 44100);
    bypassed.setParameter(0, 1, true);
    bypassed.setBypass(true);
    Lists lists(2, 4, 0.0f);
    lists.in[0].assign(4, 1);
    ASSERT_EQ(lists.render(bypassed, 0, 4, nullptr), noErr);
    EXPECT_EQ(lists.out[0][0], 1.0f) << "a bypassed limiter copies its input";
    EXPECT_EQ(lists.out[1][0], 0.0f);
}

TEST(CallbackInstrumentDSP, RingKeepsOrderHolds1023AndWraps) {
    CallbackInstrumentDSP kernel;
    std::vector<std::array<uint8_t, 3>> received;
    kernel.setCallback([&](uint8_t a, uint8_t b, uint8_t c) { received.push_back({a, b, c}); });
    auto midi = [](uint8_t a, uint8_t b, uint8_t c, uint16_t length = 3) {
        AUMIDIEvent e{};
        e.eventType = AURenderEventType::MIDI;
        e.length = length;
        e.data[0] = a;
        e.data[1] = b;
        e.data[2] = c;
        return e;
    };
    kernel.handleMIDIEvent(midi(0x90, 60, 100));
    kernel.handleMIDIEvent(midi(0xF0, 1, 2, 5));  // system exclusive: ignored
    kernel.handleMIDIEvent(midi(0x80, 60, 0));
    EXPECT_EQ(kernel.drainEvents(), 2u);
    EXPECT_EQ(received, (std::vector<std::array<uint8_t, 3>>{{144, 60, 100}, {128, 60, 0}}));

    // Full at 1023; after a drain it accepts again, across the ring's end.
    for (int round = 0; round < 3; ++round) {
        received.clear();
        for (int i = 0; i < 1100; ++i) kernel.handleMIDIEvent(midi(0x90, uint8_t(i % 128), 1));
        EXPECT_EQ(kernel.drainEvents(), 1023u) << round;
        ASSERT_EQ(received.size(), 1023u);
        EXPECT_EQ(received.back()[1], 1022 % 128);
    }
}

TEST(KernelRegistry, CreatesByCodeAndFindsAddresses) {
    DSPBase* fader = akCreateDSPForSubtype(FourCC("fder"));
    ASSERT_NE(dynamic_cast<FaderDSP*>(fader), nullptr);
    akDSPSetBypass(fader, true);
    EXPECT_TRUE(akDSPGetBypass(fader));
    akDSPDelete(fader);
    akDSPDelete(nullptr);

    testing::internal::CaptureStdout();
    EXPECT_EQ(akCreateDSPForSubtype(FourCC("zzzz")), nullptr);
    EXPECT_EQ(akGetParameterAddress("NoSuchParameter"), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Unknown DSPBase subclass: zzzz\nakGetParameterAddress: Unknown parameter name: NoSuchParameter\n");
    EXPECT_EQ(akGetParameterAddress("FaderParameterMixToMono"), 3u);
    EXPECT_EQ(akGetParameterAddress("StereoFieldLimiterParameterAmount"), 0u);

    SlotKernel kernel;
    akDSPSetBuffer(&kernel, nullptr, 3);
    EXPECT_EQ(akDSPGetInputBusCount(&kernel), 1u);
}

TEST(KernelRegistryDeathTest, RegisteringANameTwiceStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            akDSPDelete(akCreateDSPForSubtype(FourCC("fder")));
            addCreateFunction("fder", [] { return static_cast<DSPBase*>(nullptr); });
        },
        "redundant DSP kernel registration");
    EXPECT_DEATH(
        {
            akGetParameterAddress("FaderParameterLeftGain");
            addParameter("FaderParameterLeftGain", 9);
        },
        "Parameter already registered.");
}
