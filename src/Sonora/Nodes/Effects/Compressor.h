// Compresses levels above a threshold into a head room; reads its meters through the unit.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class Compressor : public EffectNode {
public:
    static const NodeParameterDef& thresholdDef();
    static const NodeParameterDef& headRoomDef();
    static const NodeParameterDef& attackTimeDef();
    static const NodeParameterDef& releaseTimeDef();
    static const NodeParameterDef& masterGainDef();

    explicit Compressor(std::shared_ptr<Node> input,
        float threshold = -20, float headRoom = 5, float attackTime = 0.001f, float releaseTime = 0.05f,
        float masterGain = 0);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }
    // The unit's compression amount, input amplitude and output amplitude (dB), read at
    // positions 7, 8 and 9 of its parameter list.
    float allParametersValue7() const { return allParametersValue(*effectAU(), 7); }
    float allParametersValue8() const { return allParametersValue(*effectAU(), 8); }
    float allParametersValue9() const { return allParametersValue(*effectAU(), 9); }

    Parameter<float> threshold{thresholdDef()};
    Parameter<float> headRoom{headRoomDef()};
    Parameter<float> attackTime{attackTimeDef()};
    Parameter<float> releaseTime{releaseTimeDef()};
    Parameter<float> masterGain{masterGainDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&threshold, &headRoom, &attackTime, &releaseTime, &masterGain};
    }
};

}  // namespace sonora
