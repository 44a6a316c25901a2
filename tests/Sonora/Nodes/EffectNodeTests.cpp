// The effect nodes over the built-in units: parameters bound to the unit by address, values
// clamped to the unit's own ranges, reads that ask the unit, start and stop, the dynamics meters
// and the parameter catalogue.
#include "Sonora/Nodes/Effects/BandPassFilter.h"
#include "Sonora/Nodes/Effects/Compressor.h"
#include "Sonora/Nodes/Effects/Decimator.h"
#include "Sonora/Nodes/Effects/Delay.h"
#include "Sonora/Nodes/Effects/Distortion.h"
#include "Sonora/Nodes/Effects/DynamicsProcessor.h"
#include "Sonora/Nodes/Effects/Expander.h"
#include "Sonora/Nodes/Effects/HighPassFilter.h"
#include "Sonora/Nodes/Effects/HighShelfFilter.h"
#include "Sonora/Nodes/Effects/LowPassFilter.h"
#include "Sonora/Nodes/Effects/LowShelfFilter.h"
#include "Sonora/Nodes/Effects/ParametricEQ.h"
#include "Sonora/Nodes/Effects/PeakLimiter.h"
#include "Sonora/Nodes/Effects/RingModulator.h"
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/ParameterBinding.h"
#include "Sonora/Nodes/support/TestNodes.h"
#include "platform/audiotoolbox/AudioUnit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>

using namespace sonora;
using platform::AUParameterAddress;

namespace {

std::shared_ptr<Node> source() { return testnodes::constant(0.5f); }

// One node of every class, made with its default arguments.
std::vector<std::pair<std::string, std::shared_ptr<EffectNode>>> everyNode() {
    const auto in = source();
    return {{"Delay", std::make_shared<Delay>(in)},
            {"Decimator", std::make_shared<Decimator>(in)},
            {"Distortion", std::make_shared<Distortion>(in)},
            {"RingModulator", std::make_shared<RingModulator>(in)},
            {"Compressor", std::make_shared<Compressor>(in)},
            {"DynamicsProcessor", std::make_shared<DynamicsProcessor>(in)},
            {"Expander", std::make_shared<Expander>(in)},
            {"PeakLimiter", std::make_shared<PeakLimiter>(in)},
            {"BandPassFilter", std::make_shared<BandPassFilter>(in)},
            {"HighPassFilter", std::make_shared<HighPassFilter>(in)},
            {"HighShelfFilter", std::make_shared<HighShelfFilter>(in)},
            {"LowPassFilter", std::make_shared<LowPassFilter>(in)},
            {"LowShelfFilter", std::make_shared<LowShelfFilter>(in)},
            {"ParametricEQ", std::make_shared<ParametricEQ>(in)}};
}

float unitValue(const EffectNode& node, AUParameterAddress address) {
    float value = NAN;
    const auto unit = std::dynamic_pointer_cast<platform::AVAudioUnit>(node.avAudioNode());
    EXPECT_EQ(platform::AudioUnitGetParameter(unit->audioUnit(), uint32_t(address), platform::kAudioUnitScope_Global, 0, &value),
              platform::noErr);
    return value;
}

}  // namespace

TEST(EffectNodes, EveryParameterIsBoundByAddressAndHoldsItsDefault) {
    size_t definitions = 0;
    for (const auto& [name, node] : everyNode()) {
        EXPECT_EQ(node->connections().size(), 1u) << name;
        EXPECT_TRUE(node->isStarted()) << name;
        std::set<std::string> identifiers;
        for (const auto& parameter : node->parameters()) {
            const NodeParameterDef& def = parameter->def();
            ++definitions;
            EXPECT_TRUE(identifiers.insert(def.identifier).second) << name << " " << def.identifier;
            EXPECT_EQ(def.flags, 0xC2000000u) << name << " " << def.identifier;
            ASSERT_TRUE(parameter->parameter()) << name << " " << def.identifier << " is unbound";
            EXPECT_EQ(parameter->parameter()->address(), def.address) << name << " " << def.identifier;
            EXPECT_EQ(parameter->avAudioNode(), node->avAudioNode());
            // The one default argument that differs from its definition: everything below +2 dBFS
            // would be expanded.
            const float expected = def.identifier == "expansionThreshold" ? -100.0f : def.defaultValue;
            EXPECT_EQ(parameter->value(), expected) << name << " " << def.identifier;
            EXPECT_EQ(unitValue(*node, def.address), expected) << name << " " << def.identifier;
        }
    }
    EXPECT_EQ(definitions, 60u);
}

TEST(EffectNodes, ValuesClampToTheUnitsRangeNotTheDefinitions) {
    const auto in = source();
    Delay delay(in, 1, 50, 15000, 50);
    EXPECT_EQ(Delay::dryWetMixDef().range.upperBound, 1.0f);
    EXPECT_EQ(float(delay.dryWetMix), 50.0f) << "inside the unit's 0...100: kept";
    EXPECT_EQ(float(delay.time), 1.0f);
    EXPECT_EQ(float(delay.feedback), 50.0f);
    EXPECT_EQ(float(delay.lowPassCutoff), 15000.0f);
    EXPECT_EQ(delay.delayAU()->wetDryMix(), 50.0f);

    struct Case {
        std::function<Parameter<float>&()> parameter;
        float set, expected;
    };
    LowPassFilter lowPass(in);
    DynamicsProcessor dynamics(in);
    Expander expander(in);
    const std::vector<Case> cases = {
        {[&]() -> Parameter<float>& { return delay.dryWetMix; }, 150, 100},
        {[&]() -> Parameter<float>& { return delay.feedback; }, -300, -100},
        {[&]() -> Parameter<float>& { return lowPass.cutoffFrequency; }, 30000, 22050},
        {[&]() -> Parameter<float>& { return lowPass.resonance; }, -21, -20},
        {[&]() -> Parameter<float>& { return dynamics.expansionThreshold; }, -110, -110},
        {[&]() -> Parameter<float>& { return dynamics.expansionThreshold; }, -500, -120},
        {[&]() -> Parameter<float>& { return expander.expansionThreshold; }, 30, 20},
    };
    for (const Case& c : cases) {
        c.parameter() = c.set;
        EXPECT_EQ(float(c.parameter()), c.expected) << c.parameter().projectedValue()->def().identifier << " " << c.set;
    }
}

TEST(EffectNodes, ReadsAskTheUnitAndTheHandleIsTheUnitsParameter) {
    const auto in = source();
    ParametricEQ eq(in, 1000, 2, 3);
    const auto unit = std::dynamic_pointer_cast<platform::AVAudioUnit>(eq.avAudioNode());
    platform::AudioUnitSetParameter(unit->audioUnit(), 2, platform::kAudioUnitScope_Global, 0, -7, 0);
    EXPECT_EQ(float(eq.gain), -7.0f) << "no copy is kept in the node";
    eq.q.projectedValue()->parameter()->setValue(4);
    EXPECT_EQ(float(eq.q), 4.0f);
    eq.centerFreq += 500;
    EXPECT_EQ(unitValue(eq, 0), 1500.0f);

    // Two nodes of one class share the definitions and bind to their own units.
    ParametricEQ other(in);
    EXPECT_EQ(other.gain.projectedValue()->def().name, eq.gain.projectedValue()->def().name);
    EXPECT_EQ(&ParametricEQ::gainDef(), &ParametricEQ::gainDef()) << "made once";
    EXPECT_EQ(float(other.gain), 0.0f);
    EXPECT_NE(other.gain.projectedValue()->parameter(), eq.gain.projectedValue()->parameter());
}

TEST(EffectNodes, StopAndStartToggleTheBypassAndKeepTheValues) {
    const auto in = source();
    Compressor compressor(in, -10, 8);
    const auto unit = std::dynamic_pointer_cast<platform::AVAudioUnitEffect>(compressor.avAudioNode());
    EXPECT_FALSE(unit->bypass());
    compressor.stop();
    EXPECT_TRUE(unit->bypass());
    EXPECT_FALSE(compressor.isStarted());
    compressor.stop();
    compressor.start();
    EXPECT_FALSE(unit->bypass());
    EXPECT_TRUE(compressor.isStarted());
    EXPECT_EQ(float(compressor.threshold), -10.0f);
    EXPECT_EQ(float(compressor.headRoom), 8.0f);
    compressor.setIsStarted(false);
    EXPECT_FALSE(unit->bypass()) << "isStarted is stored, not the unit's state";
}

TEST(EffectNodes, TheDistortionUnitsNodesExposeTheirOwnShare) {
    const auto in = source();
    Decimator decimator(in);
    Distortion distortion(in);
    RingModulator ring(in, 440, 660, 25, 80);
    EXPECT_EQ(decimator.parameters().size(), 3u);
    EXPECT_EQ(ring.parameters().size(), 4u);
    EXPECT_EQ(Decimator::decimationDef().name, Distortion::decimationDef().name);
    EXPECT_EQ(Decimator::finalMixDef().address, RingModulator::finalMixDef().address);
    EXPECT_EQ(RingModulator::ringModBalanceDef().defaultValue, Distortion::ringModBalanceDef().defaultValue);
    // The ring modulator mixes its stage in fully, though it does not expose the mix.
    EXPECT_EQ(unitValue(ring, 13), 100.0f);
    EXPECT_EQ(unitValue(decimator, 13), 0.0f);
    EXPECT_EQ(unitValue(distortion, 13), 0.0f);

    std::vector<AUParameterAddress> order;
    for (const auto& parameter : distortion.parameters()) order.push_back(parameter->def().address);
    EXPECT_EQ(order, (std::vector<AUParameterAddress>{0, 1, 2, 10, 11, 12, 13, 3, 4, 5, 6, 7, 8, 9, 14, 15}));
}

TEST(EffectNodes, CatalogueRowsAsPublished) {
    struct Row {
        const NodeParameterDef& def;
        const char* identifier;
        const char* name;
        AUParameterAddress address;
        float defaultValue, lower, upper;
        uint32_t unit;
    };
    const std::vector<Row> rows = {
        {Delay::dryWetMixDef(), "dryWetMix", "Dry-Wet Mix", 0, 50, 0, 1, 0},
        {Delay::timeDef(), "time", "Delay time (Seconds)", 1, 1, 0, 2, 4},
        {Delay::feedbackDef(), "feedback", "Feedback (%)", 2, 50, -100, 100, 0},
        {Distortion::delayDef(), "delay", "Delay", 0, 0.1f, 0.1f, 500, 24},
        {Distortion::decayDef(), "decay", "Decay", 1, 1, 0.1f, 50, 7},
        {Distortion::softClipGainDef(), "softClipGain", "Soft Clip Gain", 14, -6, -80, 20, 13},
        {HighShelfFilter::cutOffFrequencyDef(), "cutOffFrequency", "Cut Off Frequency", 0, 10000, 10000, 22050, 8},
        {LowShelfFilter::cutoffFrequencyDef(), "cutoffFrequency", "Cutoff Frequency", 0, 80, 10, 200, 8},
        {BandPassFilter::bandwidthDef(), "bandwidth", "Bandwidth", 1, 600, 100, 12000, 9},
        {DynamicsProcessor::expansionThresholdDef(), "expansionThreshold", "Expansion Threshold", 3, 2, 1, 50, 13},
        {Expander::expansionThresholdDef(), "expansionThreshold", "Expansion Threshold", 3, 2, 1, 50, 7},
        {Compressor::attackTimeDef(), "attackTime", "Attack Time", 4, 0.001f, 0.0001f, 0.2f, 4},
        {PeakLimiter::decayTimeDef(), "decayTime", "Decay Time", 1, 0.024f, 0.001f, 0.06f, 4},
        {ParametricEQ::qDef(), "q", "Q", 1, 1, 0.1f, 20, 8},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.def.identifier, row.identifier);
        EXPECT_EQ(row.def.name, row.name) << row.identifier;
        EXPECT_EQ(row.def.address, row.address) << row.identifier;
        EXPECT_EQ(row.def.defaultValue, row.defaultValue) << row.identifier;
        EXPECT_EQ(row.def.range.lowerBound, row.lower) << row.identifier;
        EXPECT_EQ(row.def.range.upperBound, row.upper) << row.identifier;
        EXPECT_EQ(row.def.unit, row.unit) << row.identifier;
        EXPECT_EQ(row.def.flags, 0xC2000000u) << row.identifier;
    }
}

TEST(EffectNodes, DynamicsMetersAreTheUnitsLastThreeParameters) {
    auto tone = std::make_shared<testnodes::SourceNode>(
        [](uint32_t, int64_t frame) { return 0.5f * std::sin(2 * float(M_PI) * 1000 * float(frame) / 44100); });
    auto compressor = std::make_shared<Compressor>(tone, -20, 5);
    EXPECT_EQ(compressor->allParametersValue7(), 0.0f) << "nothing measured before rendering";
    AudioEngine engine;
    engine.setOutput(compressor);
    engine.avEngine()->enableManualRenderingMode(platform::AVAudioEngineManualRenderingMode::offline,
                                                 testnodes::stereo(), 512);
    engine.start();
    auto buffer = platform::AVAudioPCMBuffer::make(testnodes::stereo(), 512);
    for (int i = 0; i < 100; ++i) engine.avEngine()->renderOffline(512, *buffer);
    engine.stop();
    EXPECT_NEAR(compressor->allParametersValue8(), -6.0, 0.5) << "input amplitude";
    EXPECT_NEAR(compressor->allParametersValue7(), -9.3, 0.5) << "compression amount";
    EXPECT_NEAR(compressor->allParametersValue9(), -15.3, 0.5) << "output amplitude";
    const auto& all = compressor->effectAU()->auAudioUnit()->parameterTree()->allParameters();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all[7]->address(), 1000u);
    EXPECT_EQ(all[9]->address(), 3000u);
}

TEST(EffectNodes, BindingNeedsAParameterTree) {
    testnodes::ParameterNode node;
    EXPECT_THROW(bindParameterWrappers(node, node.node), std::logic_error);
}
