// Narrows the stereo image of its input over the "sflm" kernel: `amount` 0 leaves it unchanged,
// 1 makes both channels the mid signal.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/audiotoolbox/AVAudioUnit.h"

#include <memory>

namespace sonora {

class StereoFieldLimiter : public Node {
public:
    static const NodeParameterDef& amountDef();

    explicit StereoFieldLimiter(std::shared_ptr<Node> input, float amount = 1.0f);

    std::vector<std::shared_ptr<Node>> connections() const override { return {input_}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return avAudioNode_; }

    Parameter<float> amount{amountDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override { return {&amount}; }

private:
    std::shared_ptr<Node> input_;
    std::shared_ptr<platform::AVAudioUnit> avAudioNode_;
};

}  // namespace sonora
