// A resonant two-pole low-pass filter.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class LowPassFilter : public EffectNode {
public:
    static const NodeParameterDef& cutoffFrequencyDef();
    static const NodeParameterDef& resonanceDef();

    explicit LowPassFilter(std::shared_ptr<Node> input, float cutoffFrequency = 6900, float resonance = 0);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> cutoffFrequency{cutoffFrequencyDef()};
    Parameter<float> resonance{resonanceDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override { return {&cutoffFrequency, &resonance}; }
};

}  // namespace sonora
