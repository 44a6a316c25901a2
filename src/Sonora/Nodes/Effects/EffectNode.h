// What the effect nodes over the built-in units share: one input, the unit as the platform node,
// a stored isStarted, start() and stop() through the unit's bypass, and the binding of the
// node's parameters to the unit's own parameters by address.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/audiotoolbox/AVAudioUnitEffect.h"

#include <initializer_list>
#include <memory>
#include <utility>

namespace sonora {

class EffectNode : public Node {
public:
    std::vector<std::shared_ptr<Node>> connections() const override { return {input_}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return effectAU_; }

    // True after creation and start(), false after stop(); setting it leaves the unit alone.
    bool isStarted() const override { return isStarted_; }
    void setIsStarted(bool started) { isStarted_ = started; }
    // The unit stops bypassing / bypasses (a straight copy); the parameters keep their values.
    void start();
    void stop();

protected:
    EffectNode(std::shared_ptr<platform::AVAudioUnitEffect> unit, std::shared_ptr<Node> input);
    // Over a new unit of the built-in effect ('aufx', 'appl') with this sub-type.
    EffectNode(platform::OSType subType, std::shared_ptr<Node> input);

    // Binds every parameter to the unit, then assigns the values in declaration order (clamped
    // to the unit's ranges like any later assignment).
    void bindAndAssign(std::initializer_list<std::pair<Parameter<float>*, float>> values);

    const std::shared_ptr<platform::AVAudioUnitEffect>& unit() const { return effectAU_; }

private:
    std::shared_ptr<platform::AVAudioUnitEffect> effectAU_;
    std::shared_ptr<Node> input_;
    bool isStarted_ = true;
};

// What the compressor, the expander and the dynamics processor share: the dynamics unit ('dcmp')
// and its three meters.
class DynamicsUnitNode : public EffectNode {
public:
    const std::shared_ptr<platform::AVAudioUnitEffect>& effectAU() const { return unit(); }
    // The unit's compression amount, input amplitude and output amplitude (dB), read at
    // positions 7, 8 and 9 of its parameter list.
    float allParametersValue7() const { return allParametersValue(7); }
    float allParametersValue8() const { return allParametersValue(8); }
    float allParametersValue9() const { return allParametersValue(9); }

protected:
    explicit DynamicsUnitNode(std::shared_ptr<Node> input);

private:
    // The value at `position` of the unit's allParameters (0 when the unit has no tree or fewer
    // parameters).
    float allParametersValue(size_t position) const;
};

}  // namespace sonora
