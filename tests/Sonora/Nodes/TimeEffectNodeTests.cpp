// The reverb, time-pitch and varispeed nodes: their clamped properties, what reaches their units,
// and stop/start.
#include "Sonora/Nodes/Effects/Reverb.h"
#include "Sonora/Nodes/Effects/TimePitch.h"
#include "Sonora/Nodes/Effects/VariSpeed.h"
#include "Sonora/Nodes/support/TestNodes.h"

#include <gtest/gtest.h>

#include <functional>

using namespace sonora;

TEST(TimeEffectNodes, SettersClampToTheirRangesAndReachTheUnit) {
    const auto input = testnodes::constant(0.5f);
    auto reverb = std::make_shared<Reverb>(input);
    auto timePitch = std::make_shared<TimePitch>(input);
    auto variSpeed = std::make_shared<VariSpeed>(input);
    struct Case {
        const char* property;
        float assigned, stored, unit;
        std::function<void(float)> set;
        std::function<float()> read, unitReads;
    };
    const Case cases[] = {
        {"Reverb dryWetMix", 1.5f, 1.0f, 100.0f, [&](float v) { reverb->setDryWetMix(v); },
         [&] { return reverb->dryWetMix(); }, [&] { return reverb->reverbAU()->wetDryMix(); }},
        {"Reverb dryWetMix", -0.2f, 0.0f, 0.0f, [&](float v) { reverb->setDryWetMix(v); },
         [&] { return reverb->dryWetMix(); }, [&] { return reverb->reverbAU()->wetDryMix(); }},
        {"Reverb dryWetMix", 0.25f, 0.25f, 25.0f, [&](float v) { reverb->setDryWetMix(v); },
         [&] { return reverb->dryWetMix(); }, [&] { return reverb->reverbAU()->wetDryMix(); }},
        {"TimePitch rate", 0.0f, 0.03125f, 0.03125f, [&](float v) { timePitch->setRate(v); },
         [&] { return timePitch->rate(); }, [&] { return timePitch->timePitchAU()->rate(); }},
        {"TimePitch rate", 100.0f, 32.0f, 32.0f, [&](float v) { timePitch->setRate(v); },
         [&] { return timePitch->rate(); }, [&] { return timePitch->timePitchAU()->rate(); }},
        {"TimePitch pitch", 5000.0f, 2400.0f, 2400.0f, [&](float v) { timePitch->setPitch(v); },
         [&] { return timePitch->pitch(); }, [&] { return timePitch->timePitchAU()->pitch(); }},
        {"TimePitch overlap", 1.0f, 3.0f, 3.0f, [&](float v) { timePitch->setOverlap(v); },
         [&] { return timePitch->overlap(); }, [&] { return timePitch->timePitchAU()->overlap(); }},
        {"VariSpeed rate", 0.1f, 0.25f, 0.25f, [&](float v) { variSpeed->setRate(v); },
         [&] { return variSpeed->rate(); }, [&] { return variSpeed->variSpeedAU()->rate(); }},
        {"VariSpeed rate", 8.0f, 4.0f, 4.0f, [&](float v) { variSpeed->setRate(v); },
         [&] { return variSpeed->rate(); }, [&] { return variSpeed->variSpeedAU()->rate(); }},
    };
    for (const Case& c : cases) {
        c.set(c.assigned);
        EXPECT_EQ(c.read(), c.stored) << c.property << " = " << c.assigned;
        EXPECT_EQ(c.unitReads(), c.unit) << c.property << " = " << c.assigned;
    }
    // NaN has no nearer bound: the value stays.
    timePitch->setPitch(std::nanf(""));
    EXPECT_EQ(timePitch->pitch(), 2400.0f);
}

TEST(TimeEffectNodes, InitialisersStoreAsGivenAndSendWithinRange) {
    const auto input = testnodes::constant(0.5f);
    // Reverb sends its argument unclamped; the unit keeps to 0 ... 100.
    Reverb reverb(input, 1.5f);
    EXPECT_EQ(reverb.dryWetMix(), 1.5f);
    EXPECT_EQ(reverb.reverbAU()->wetDryMix(), 100.0f);
    EXPECT_EQ(reverb.avAudioNode(), reverb.reverbAU());
    EXPECT_EQ(reverb.connections(), std::vector<std::shared_ptr<Node>>{input});

    // A node reading rate 2 plays at 2.
    TimePitch timePitch(input, 2.0f, -3000.0f, 40.0f);
    EXPECT_EQ(timePitch.rate(), 2.0f);
    EXPECT_EQ(timePitch.pitch(), -3000.0f);
    EXPECT_EQ(timePitch.overlap(), 40.0f);
    EXPECT_EQ(timePitch.timePitchAU()->rate(), 2.0f);
    EXPECT_EQ(timePitch.timePitchAU()->pitch(), -2400.0f);
    EXPECT_EQ(timePitch.timePitchAU()->overlap(), 32.0f);

    VariSpeed variSpeed(input, 8.0f);
    EXPECT_EQ(variSpeed.rate(), 8.0f);
    EXPECT_EQ(variSpeed.lastKnownRate(), 8.0f);
    EXPECT_TRUE(variSpeed.isStarted());
    EXPECT_EQ(variSpeed.variSpeedAU()->rate(), 4.0f);
    variSpeed.start();
    EXPECT_EQ(variSpeed.rate(), 4.0f);
    EXPECT_EQ(variSpeed.lastKnownRate(), 8.0f);
}

TEST(TimeEffectNodes, StopAndStart) {
    const auto input = testnodes::constant(0.5f);
    Reverb reverb(input, 0.3f);
    reverb.stop();
    EXPECT_EQ(reverb.reverbAU()->wetDryMix(), 0.0f);
    EXPECT_EQ(reverb.dryWetMix(), 0.3f);
    EXPECT_TRUE(reverb.isStarted());
    reverb.play();
    EXPECT_FLOAT_EQ(reverb.reverbAU()->wetDryMix(), 30.0f);
    reverb.bypass();
    EXPECT_EQ(reverb.reverbAU()->wetDryMix(), 0.0f);
    reverb.start();
    EXPECT_FLOAT_EQ(reverb.reverbAU()->wetDryMix(), 30.0f);
    EXPECT_TRUE(reverb.isStarted());
    reverb.loadFactoryPreset(platform::AVAudioUnitReverbPreset::cathedral);
    reverb.loadFactoryPreset(platform::AVAudioUnitReverbPreset(99));
    EXPECT_EQ(reverb.reverbAU()->factoryPreset(), platform::AVAudioUnitReverbPreset::cathedral);
    EXPECT_EQ(reverb.dryWetMix(), 0.3f);

    TimePitch timePitch(input, 1.5f);
    timePitch.stop();
    EXPECT_TRUE(timePitch.timePitchAU()->bypass());
    EXPECT_FALSE(timePitch.isStarted());
    timePitch.start();
    EXPECT_TRUE(timePitch.isStarted());
    EXPECT_EQ(timePitch.rate(), 1.5f);

    VariSpeed variSpeed(input, 2.0f);
    variSpeed.stop();
    EXPECT_EQ(variSpeed.rate(), 1.0f);
    EXPECT_EQ(variSpeed.lastKnownRate(), 2.0f);
    EXPECT_EQ(variSpeed.variSpeedAU()->rate(), 1.0f);
    EXPECT_FALSE(variSpeed.isStarted());
    variSpeed.start();
    EXPECT_EQ(variSpeed.rate(), 2.0f);
    EXPECT_EQ(variSpeed.variSpeedAU()->rate(), 2.0f);
    // Two stops in a row park normal speed.
    variSpeed.stop();
    variSpeed.stop();
    EXPECT_EQ(variSpeed.lastKnownRate(), 1.0f);
    variSpeed.start();
    EXPECT_EQ(variSpeed.rate(), 1.0f);
}
