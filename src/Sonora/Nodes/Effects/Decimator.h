// Lowers the sample rate and the bit depth of the input (the distortion unit's decimation stage).
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class Decimator : public EffectNode {
public:
    static const NodeParameterDef& decimationDef();
    static const NodeParameterDef& roundingDef();
    static const NodeParameterDef& finalMixDef();

    explicit Decimator(std::shared_ptr<Node> input, float decimation = 50, float rounding = 0, float finalMix = 50);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> decimation{decimationDef()};
    Parameter<float> rounding{roundingDef()};
    Parameter<float> finalMix{finalMixDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&decimation, &rounding, &finalMix};
    }
};

}  // namespace sonora
