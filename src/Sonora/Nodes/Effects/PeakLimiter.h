// Keeps peaks at or below full scale, looking ahead by the attack time.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class PeakLimiter : public EffectNode {
public:
    static const NodeParameterDef& attackTimeDef();
    static const NodeParameterDef& decayTimeDef();
    static const NodeParameterDef& preGainDef();

    explicit PeakLimiter(std::shared_ptr<Node> input,
        float attackTime = 0.012f, float decayTime = 0.024f, float preGain = 0);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> attackTime{attackTimeDef()};
    Parameter<float> decayTime{decayTimeDef()};
    Parameter<float> preGain{preGainDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&attackTime, &decayTime, &preGain};
    }
};

}  // namespace sonora
