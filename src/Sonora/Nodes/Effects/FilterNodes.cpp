// The six filter nodes.
#include "Sonora/Nodes/Effects/BandPassFilter.h"
#include "Sonora/Nodes/Effects/HighPassFilter.h"
#include "Sonora/Nodes/Effects/HighShelfFilter.h"
#include "Sonora/Nodes/Effects/LowPassFilter.h"
#include "Sonora/Nodes/Effects/LowShelfFilter.h"
#include "Sonora/Nodes/Effects/ParametricEQ.h"

#include "platform/audiotoolbox/EffectAudioUnit.h"

namespace sonora {

BandPassFilter::BandPassFilter(std::shared_ptr<Node> input, float centerFrequency, float bandwidth)
    : EffectNode(platform::kAudioUnitSubType_BandPassFilter, std::move(input)) {
    bindAndAssign({{&this->centerFrequency, centerFrequency}, {&this->bandwidth, bandwidth}});
}

HighPassFilter::HighPassFilter(std::shared_ptr<Node> input, float cutoffFrequency, float resonance)
    : EffectNode(platform::kAudioUnitSubType_HighPassFilter, std::move(input)) {
    bindAndAssign({{&this->cutoffFrequency, cutoffFrequency}, {&this->resonance, resonance}});
}

HighShelfFilter::HighShelfFilter(std::shared_ptr<Node> input, float cutOffFrequency, float gain)
    : EffectNode(platform::kAudioUnitSubType_HighShelfFilter, std::move(input)) {
    bindAndAssign({{&this->cutOffFrequency, cutOffFrequency}, {&this->gain, gain}});
}

LowPassFilter::LowPassFilter(std::shared_ptr<Node> input, float cutoffFrequency, float resonance)
    : EffectNode(platform::kAudioUnitSubType_LowPassFilter, std::move(input)) {
    bindAndAssign({{&this->cutoffFrequency, cutoffFrequency}, {&this->resonance, resonance}});
}

LowShelfFilter::LowShelfFilter(std::shared_ptr<Node> input, float cutoffFrequency, float gain)
    : EffectNode(platform::kAudioUnitSubType_LowShelfFilter, std::move(input)) {
    bindAndAssign({{&this->cutoffFrequency, cutoffFrequency}, {&this->gain, gain}});
}

ParametricEQ::ParametricEQ(std::shared_ptr<Node> input, float centerFreq, float q, float gain)
    : EffectNode(platform::kAudioUnitSubType_ParametricEQ, std::move(input)) {
    bindAndAssign({{&this->centerFreq, centerFreq}, {&this->q, q}, {&this->gain, gain}});
}

}  // namespace sonora
