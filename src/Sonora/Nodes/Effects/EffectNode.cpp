#include "Sonora/Nodes/Effects/EffectNode.h"

#include "Sonora/Internals/Engine/AudioComponentDescriptions.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Nodes/ParameterBinding.h"
#include "platform/audiotoolbox/EffectAudioUnit.h"

namespace sonora {

EffectNode::EffectNode(std::shared_ptr<platform::AVAudioUnitEffect> unit, std::shared_ptr<Node> input)
    : effectAU_(std::move(unit)), input_(std::move(input)) {}

EffectNode::EffectNode(platform::OSType subType, std::shared_ptr<Node> input)
    : EffectNode(std::make_shared<platform::AVAudioUnitEffect>(appleEffectDescription(subType)), std::move(input)) {}

void EffectNode::start() {
    effectAU_->setBypass(false);
    isStarted_ = true;
}

void EffectNode::stop() {
    effectAU_->setBypass(true);
    isStarted_ = false;
}

void EffectNode::bindAndAssign(std::initializer_list<std::pair<Parameter<float>*, float>> values) {
    bindParameterWrappers(*this, effectAU_);
    for (const auto& [parameter, value] : values) *parameter = value;
}

DynamicsUnitNode::DynamicsUnitNode(std::shared_ptr<Node> input)
    : EffectNode(platform::kAudioUnitSubType_DynamicsProcessor, std::move(input)) {}

float DynamicsUnitNode::allParametersValue(size_t position) const {
    const auto au = unit()->auAudioUnit();
    const auto tree = au ? au->parameterTree() : nullptr;
    if (!tree) return 0.0f;
    const auto& all = tree->allParameters();
    if (position >= all.size()) {
        Log({"🛑 Error: the unit has no parameter at position", position});
        return 0.0f;
    }
    return all[position]->value();
}

}  // namespace sonora
