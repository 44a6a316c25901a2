// One peaking band: a boost or cut around a centre frequency.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class ParametricEQ : public EffectNode {
public:
    static const NodeParameterDef& centerFreqDef();
    static const NodeParameterDef& qDef();
    static const NodeParameterDef& gainDef();

    explicit ParametricEQ(std::shared_ptr<Node> input, float centerFreq = 2000, float q = 1, float gain = 0);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> centerFreq{centerFreqDef()};
    Parameter<float> q{qDef()};
    Parameter<float> gain{gainDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override { return {&centerFreq, &q, &gain}; }
};

}  // namespace sonora
