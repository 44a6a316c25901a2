// Raises or lowers the lows below a shelf frequency.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class LowShelfFilter : public EffectNode {
public:
    static const NodeParameterDef& cutoffFrequencyDef();
    static const NodeParameterDef& gainDef();

    explicit LowShelfFilter(std::shared_ptr<Node> input, float cutoffFrequency = 80, float gain = 0);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> cutoffFrequency{cutoffFrequencyDef()};
    Parameter<float> gain{gainDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override { return {&cutoffFrequency, &gain}; }
};

}  // namespace sonora
