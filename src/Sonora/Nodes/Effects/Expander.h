// Expands levels below a threshold downwards; reads its meters through the unit.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class Expander : public DynamicsUnitNode {
public:
    static const NodeParameterDef& expansionRatioDef();
    static const NodeParameterDef& expansionThresholdDef();
    static const NodeParameterDef& attackTimeDef();
    static const NodeParameterDef& releaseTimeDef();
    static const NodeParameterDef& masterGainDef();

    explicit Expander(std::shared_ptr<Node> input,
        float expansionRatio = 2, float expansionThreshold = -100, float attackTime = 0.001f,
        float releaseTime = 0.05f, float masterGain = 0);

    Parameter<float> expansionRatio{expansionRatioDef()};
    Parameter<float> expansionThreshold{expansionThresholdDef()};
    Parameter<float> attackTime{attackTimeDef()};
    Parameter<float> releaseTime{releaseTimeDef()};
    Parameter<float> masterGain{masterGainDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&expansionRatio, &expansionThreshold, &attackTime, &releaseTime, &masterGain};
    }
};

}  // namespace sonora
