// A band-pass filter with 0 dB at its centre; bandwidth in cents.
#pragma once

#include "Sonora/Nodes/Effects/EffectNode.h"

namespace sonora {

class BandPassFilter : public EffectNode {
public:
    static const NodeParameterDef& centerFrequencyDef();
    static const NodeParameterDef& bandwidthDef();

    explicit BandPassFilter(std::shared_ptr<Node> input, float centerFrequency = 5000, float bandwidth = 600);

    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }

    Parameter<float> centerFrequency{centerFrequencyDef()};
    Parameter<float> bandwidth{bandwidthDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override { return {&centerFrequency, &bandwidth}; }
};

}  // namespace sonora
