// Every stage of the distortion unit: comb delay, decimation, ring modulation, polynomial shaping and soft clip.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class Distortion : public EffectNode {
public:
    static const NodeParameterDef& delayDef();
    static const NodeParameterDef& decayDef();
    static const NodeParameterDef& delayMixDef();
    static const NodeParameterDef& ringModFreq1Def();
    static const NodeParameterDef& ringModFreq2Def();
    static const NodeParameterDef& ringModBalanceDef();
    static const NodeParameterDef& ringModMixDef();
    static const NodeParameterDef& decimationDef();
    static const NodeParameterDef& roundingDef();
    static const NodeParameterDef& decimationMixDef();
    static const NodeParameterDef& linearTermDef();
    static const NodeParameterDef& squaredTermDef();
    static const NodeParameterDef& cubicTermDef();
    static const NodeParameterDef& polynomialMixDef();
    static const NodeParameterDef& softClipGainDef();
    static const NodeParameterDef& finalMixDef();

    explicit Distortion(std::shared_ptr<Node> input,
        float delay = 0.1f, float decay = 1, float delayMix = 50, float ringModFreq1 = 100, float ringModFreq2 = 100,
        float ringModBalance = 50, float ringModMix = 0, float decimation = 50, float rounding = 0,
        float decimationMix = 50, float linearTerm = 0.5f, float squaredTerm = 10, float cubicTerm = 10,
        float polynomialMix = 50, float softClipGain = -6, float finalMix = 50);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> delay{delayDef()};
    Parameter<float> decay{decayDef()};
    Parameter<float> delayMix{delayMixDef()};
    Parameter<float> ringModFreq1{ringModFreq1Def()};
    Parameter<float> ringModFreq2{ringModFreq2Def()};
    Parameter<float> ringModBalance{ringModBalanceDef()};
    Parameter<float> ringModMix{ringModMixDef()};
    Parameter<float> decimation{decimationDef()};
    Parameter<float> rounding{roundingDef()};
    Parameter<float> decimationMix{decimationMixDef()};
    Parameter<float> linearTerm{linearTermDef()};
    Parameter<float> squaredTerm{squaredTermDef()};
    Parameter<float> cubicTerm{cubicTermDef()};
    Parameter<float> polynomialMix{polynomialMixDef()};
    Parameter<float> softClipGain{softClipGainDef()};
    Parameter<float> finalMix{finalMixDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&delay, &decay, &delayMix, &ringModFreq1, &ringModFreq2, &ringModBalance, &ringModMix, &decimation,
                &rounding, &decimationMix, &linearTerm, &squaredTerm, &cubicTerm, &polynomialMix, &softClipGain,
                &finalMix};
    }
};

}  // namespace sonora
