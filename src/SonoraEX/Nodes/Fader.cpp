#include "SonoraEX/Nodes/Fader.h"

#include "SonoraEX/Kernels/KernelBridge.h"
#include "SonoraEX/Node+SonoraAU.h"

#include <cmath>
#include <limits>

namespace sonora {

const ClosedRange<platform::AUValue> Fader::gainRange{0.0f, std::numeric_limits<float>::max()};

const NodeParameterDef& Fader::leftGainDef() {
    static const NodeParameterDef def{"leftGain", "Left Gain", akGetParameterAddress("FaderParameterLeftGain"), 1.0f,
                                      gainRange, platform::kAudioUnitParameterUnit_LinearGain, nodeParameterDefaultFlags};
    return def;
}

const NodeParameterDef& Fader::rightGainDef() {
    static const NodeParameterDef def{"rightGain", "Right Gain", akGetParameterAddress("FaderParameterRightGain"), 1.0f,
                                      gainRange, platform::kAudioUnitParameterUnit_LinearGain, nodeParameterDefaultFlags};
    return def;
}

const NodeParameterDef& Fader::flipStereoDef() {
    static const NodeParameterDef def{"flipStereo", "Flip Stereo", akGetParameterAddress("FaderParameterFlipStereo"),
                                      0.0f, {0.0f, 1.0f}, platform::kAudioUnitParameterUnit_Boolean,
                                      nodeParameterDefaultFlags};
    return def;
}

const NodeParameterDef& Fader::mixToMonoDef() {
    static const NodeParameterDef def{"mixToMono", "Mix To Mono", akGetParameterAddress("FaderParameterMixToMono"),
                                      0.0f, {0.0f, 1.0f}, platform::kAudioUnitParameterUnit_Boolean,
                                      nodeParameterDefaultFlags};
    return def;
}

Fader::Fader(std::shared_ptr<Node> input, float gain) : input_(std::move(input)), avAudioNode_(instantiateEffect("fder")) {
    setupParameterTree();
    leftGain = gain;
    rightGain = gain;
    flipStereo = false;
    mixToMono = false;
    // The stored gain is the one given, so gain() tells what the node plays at.
    gain_ = gain;
}

void Fader::setGain(float value) {
    leftGain = value;
    rightGain = value;
    gain_ = value;
}

float Fader::gainDecibels() const { return 20.0f * std::log10(gain_); }

void Fader::setGainDecibels(float decibels) { setGain(std::pow(10.0f, decibels / 20.0f)); }

void Fader::automateGain(const std::vector<AutomationEvent>& events, std::optional<platform::AVAudioTime> startTime) {
    leftGain.projectedValue()->automate(events, startTime);
    rightGain.projectedValue()->automate(events, startTime);
}

void Fader::stopAutomation() {
    leftGain.projectedValue()->stopAutomation();
    rightGain.projectedValue()->stopAutomation();
}

}  // namespace sonora
