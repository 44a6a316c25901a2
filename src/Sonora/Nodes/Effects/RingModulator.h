// Multiplies the input by a blend of two sines (the distortion unit's ring modulator, fully mixed in).
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class RingModulator : public EffectNode {
public:
    static const NodeParameterDef& ringModFreq1Def();
    static const NodeParameterDef& ringModFreq2Def();
    static const NodeParameterDef& ringModBalanceDef();
    static const NodeParameterDef& finalMixDef();

    explicit RingModulator(std::shared_ptr<Node> input,
        float ringModFreq1 = 100, float ringModFreq2 = 100, float ringModBalance = 50, float finalMix = 50);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> ringModFreq1{ringModFreq1Def()};
    Parameter<float> ringModFreq2{ringModFreq2Def()};
    Parameter<float> ringModBalance{ringModBalanceDef()};
    Parameter<float> finalMix{finalMixDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&ringModFreq1, &ringModFreq2, &ringModBalance, &finalMix};
    }
};

}  // namespace sonora
