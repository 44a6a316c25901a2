// Raises or lowers the highs above a shelf frequency.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class HighShelfFilter : public EffectNode {
public:
    static const NodeParameterDef& cutOffFrequencyDef();
    static const NodeParameterDef& gainDef();

    explicit HighShelfFilter(std::shared_ptr<Node> input, float cutOffFrequency = 10000, float gain = 0);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> cutOffFrequency{cutOffFrequencyDef()};
    Parameter<float> gain{gainDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override { return {&cutOffFrequency, &gain}; }
};

}  // namespace sonora
