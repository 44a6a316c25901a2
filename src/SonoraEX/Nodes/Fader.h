// Stereo gain over the "fder" kernel: smoothed left and right gains, a channel swap, a mono mix,
// a combined gain and its decibel view, and automation of both gains together.
#pragma once

#include "Sonora/Nodes/AutomationEvent.h"
#include "Sonora/Nodes/Node.h"
#include "platform/audiotoolbox/AVAudioUnit.h"

#include <memory>
#include <optional>
#include <vector>

namespace sonora {

class Fader : public Node {
public:
    // 0 up to the greatest finite float.
    static const ClosedRange<platform::AUValue> gainRange;
    static const NodeParameterDef& leftGainDef();
    static const NodeParameterDef& rightGainDef();
    static const NodeParameterDef& flipStereoDef();
    static const NodeParameterDef& mixToMonoDef();

    // Both channel gains take `gain`, and so does gain() itself.
    explicit Fader(std::shared_ptr<Node> input, float gain = 1.0f);

    std::vector<std::shared_ptr<Node>> connections() const override { return {input_}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override { return avAudioNode_; }

    // Sets leftGain, then rightGain, then the stored gain.
    float gain() const { return gain_; }
    void setGain(float value);
    // 20·log10(gain); setting d sets the gain to 10^(d/20).
    float gainDecibels() const;
    void setGainDecibels(float decibels);

    // The same events, with the same start, for leftGain and then rightGain.
    void automateGain(const std::vector<AutomationEvent>& events,
                      std::optional<platform::AVAudioTime> startTime = std::nullopt);
    void stopAutomation();

    Parameter<float> leftGain{leftGainDef()};
    Parameter<float> rightGain{rightGainDef()};
    Parameter<bool> flipStereo{flipStereoDef()};
    Parameter<bool> mixToMono{mixToMonoDef()};

protected:
    std::vector<const ParameterBase*> parameterProperties() const override {
        return {&leftGain, &rightGain, &flipStereo, &mixToMono};
    }

private:
    std::shared_ptr<Node> input_;
    std::shared_ptr<platform::AVAudioUnit> avAudioNode_;
    float gain_ = 1.0f;
};

}  // namespace sonora
