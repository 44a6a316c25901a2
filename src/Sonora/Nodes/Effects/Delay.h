// Echoes of the input: a delay line with feedback through a low-pass, mixed with the dry signal.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"
#include "platform/audiotoolbox/AVAudioUnitDelay.h"

namespace sonora {

class Delay : public EffectNode {
public:
    static const NodeParameterDef& dryWetMixDef();
    static const NodeParameterDef& timeDef();
    static const NodeParameterDef& feedbackDef();
    static const NodeParameterDef& lowPassCutoffDef();

    explicit Delay(std::shared_ptr<Node> input,
        float time = 1, float feedback = 50, float lowPassCutoff = 15000, float dryWetMix = 50);

    const std::shared_ptr<platform::AVAudioUnitDelay>& delayAU() const { return delayAU_; }

    Parameter<float> dryWetMix{dryWetMixDef()};
    Parameter<float> time{timeDef()};
    Parameter<float> feedback{feedbackDef()};
    Parameter<float> lowPassCutoff{lowPassCutoffDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&dryWetMix, &time, &feedback, &lowPassCutoff};
    }

private:
    std::shared_ptr<platform::AVAudioUnitDelay> delayAU_;
};

}  // namespace sonora
