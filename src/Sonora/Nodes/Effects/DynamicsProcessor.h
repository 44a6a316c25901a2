// Compression above a threshold and expansion below another, with the unit's meters.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class DynamicsProcessor : public DynamicsUnitNode {
public:
    static const NodeParameterDef& thresholdDef();
    static const NodeParameterDef& headRoomDef();
    static const NodeParameterDef& expansionRatioDef();
    static const NodeParameterDef& expansionThresholdDef();
    static const NodeParameterDef& attackTimeDef();
    static const NodeParameterDef& releaseTimeDef();
    static const NodeParameterDef& masterGainDef();

    explicit DynamicsProcessor(std::shared_ptr<Node> input,
        float threshold = -20, float headRoom = 5, float expansionRatio = 2, float expansionThreshold = -100,
        float attackTime = 0.001f, float releaseTime = 0.05f, float masterGain = 0);

    Parameter<float> threshold{thresholdDef()};
    Parameter<float> headRoom{headRoomDef()};
    Parameter<float> expansionRatio{expansionRatioDef()};
    Parameter<float> expansionThreshold{expansionThresholdDef()};
    Parameter<float> attackTime{attackTimeDef()};
    Parameter<float> releaseTime{releaseTimeDef()};
    Parameter<float> masterGain{masterGainDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&threshold, &headRoom, &expansionRatio, &expansionThreshold, &attackTime, &releaseTime, &masterGain};
    }
};

}  // namespace sonora
