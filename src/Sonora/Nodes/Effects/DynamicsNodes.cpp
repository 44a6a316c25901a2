// The nodes over the dynamics unit and the peak limiter.
#include "Sonora/Nodes/Effects/Compressor.h"
#include "Sonora/Nodes/Effects/DynamicsProcessor.h"
#include "Sonora/Nodes/Effects/Expander.h"
#include "Sonora/Nodes/Effects/PeakLimiter.h"

#include "platform/audiotoolbox/EffectAudioUnit.h"

namespace sonora {

Compressor::Compressor(std::shared_ptr<Node> input, float threshold, float headRoom, float attackTime,
                       float releaseTime, float masterGain)
    : DynamicsUnitNode(std::move(input)) {
    bindAndAssign({{&this->threshold, threshold}, {&this->headRoom, headRoom}, {&this->attackTime, attackTime},
                   {&this->releaseTime, releaseTime}, {&this->masterGain, masterGain}});
}

DynamicsProcessor::DynamicsProcessor(std::shared_ptr<Node> input, float threshold, float headRoom,
                                     float expansionRatio, float expansionThreshold, float attackTime,
                                     float releaseTime, float masterGain)
    : DynamicsUnitNode(std::move(input)) {
    bindAndAssign({{&this->threshold, threshold}, {&this->headRoom, headRoom},
                   {&this->expansionRatio, expansionRatio}, {&this->expansionThreshold, expansionThreshold},
                   {&this->attackTime, attackTime}, {&this->releaseTime, releaseTime},
                   {&this->masterGain, masterGain}});
}

Expander::Expander(std::shared_ptr<Node> input, float expansionRatio, float expansionThreshold, float attackTime,
                   float releaseTime, float masterGain)
    : DynamicsUnitNode(std::move(input)) {
    bindAndAssign({{&this->expansionRatio, expansionRatio}, {&this->expansionThreshold, expansionThreshold},
                   {&this->attackTime, attackTime}, {&this->releaseTime, releaseTime},
                   {&this->masterGain, masterGain}});
}

PeakLimiter::PeakLimiter(std::shared_ptr<Node> input, float attackTime, float decayTime, float preGain)
    : EffectNode(platform::kAudioUnitSubType_PeakLimiter, std::move(input)) {
    bindAndAssign({{&this->attackTime, attackTime}, {&this->decayTime, decayTime}, {&this->preGain, preGain}});
}

}  // namespace sonora
