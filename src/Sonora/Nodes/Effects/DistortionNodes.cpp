// The three nodes over the distortion unit, each exposing its own share of the unit's parameters.
#include "Sonora/Nodes/Effects/Decimator.h"
#include "Sonora/Nodes/Effects/Distortion.h"
#include "Sonora/Nodes/Effects/RingModulator.h"

#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/audiotoolbox/EffectAudioUnit.h"

namespace sonora {

Decimator::Decimator(std::shared_ptr<Node> input, float decimation, float rounding, float finalMix)
    : EffectNode(platform::kAudioUnitSubType_Distortion, std::move(input)) {
    bindAndAssign({{&this->decimation, decimation}, {&this->rounding, rounding}, {&this->finalMix, finalMix}});
}

Distortion::Distortion(std::shared_ptr<Node> input, float delay, float decay, float delayMix, float ringModFreq1,
                       float ringModFreq2, float ringModBalance, float ringModMix, float decimation, float rounding,
                       float decimationMix, float linearTerm, float squaredTerm, float cubicTerm,
                       float polynomialMix, float softClipGain, float finalMix)
    : EffectNode(platform::kAudioUnitSubType_Distortion, std::move(input)) {
    bindAndAssign({{&this->delay, delay}, {&this->decay, decay}, {&this->delayMix, delayMix},
                   {&this->ringModFreq1, ringModFreq1}, {&this->ringModFreq2, ringModFreq2},
                   {&this->ringModBalance, ringModBalance}, {&this->ringModMix, ringModMix},
                   {&this->decimation, decimation}, {&this->rounding, rounding},
                   {&this->decimationMix, decimationMix}, {&this->linearTerm, linearTerm},
                   {&this->squaredTerm, squaredTerm}, {&this->cubicTerm, cubicTerm},
                   {&this->polynomialMix, polynomialMix}, {&this->softClipGain, softClipGain},
                   {&this->finalMix, finalMix}});
}

RingModulator::RingModulator(std::shared_ptr<Node> input, float ringModFreq1, float ringModFreq2,
                             float ringModBalance, float finalMix)
    : EffectNode(platform::kAudioUnitSubType_Distortion, std::move(input)) {
    bindAndAssign({{&this->ringModFreq1, ringModFreq1}, {&this->ringModFreq2, ringModFreq2},
                   {&this->ringModBalance, ringModBalance}, {&this->finalMix, finalMix}});
    // The unit mixes no ring modulation in by default: without this the node would pass its
    // input through. The mix is not one of the node's parameters.
    platform::AudioUnitSetParameter(unit()->audioUnit(), 13, platform::kAudioUnitScope_Global, 0, 100, 0);
}

}  // namespace sonora
