// Compresses levels above a threshold into a head room; reads its meters through the unit.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class Compressor : public DynamicsUnitNode {
public:
    static const NodeParameterDef& thresholdDef();
    static const NodeParameterDef& headRoomDef();
    static const NodeParameterDef& attackTimeDef();
    static const NodeParameterDef& releaseTimeDef();
    static const NodeParameterDef& masterGainDef();

    explicit Compressor(std::shared_ptr<Node> input,
        float threshold = -20, float headRoom = 5, float attackTime = 0.001f, float releaseTime = 0.05f,
        float masterGain = 0);

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
