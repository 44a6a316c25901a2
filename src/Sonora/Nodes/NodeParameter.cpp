#include "Sonora/Nodes/NodeParameter.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnit.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/AVAudioNode.h"
#include "platform/dispatch/DispatchQueue.h"

#include <cmath>
#include <iostream>
#include <limits>

namespace sonora {

using platform::AUValue;

namespace {

constexpr uint32_t kMaximumDelayFrames = 4096;

// Seconds at a rate as whole frames, truncated; what does not fit (negative, not a number, 2^32 or
// more) is pinned to the nearest end.
uint32_t framesFor(float rate, float seconds) {
    const float frames = rate * seconds;
    if (!(frames > 0)) return 0;
    if (frames >= 4294967296.0f) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(frames);
}

}  // namespace

NodeParameter::NodeParameter(NodeParameterDef def) : def_(std::move(def)) {}

NodeParameter::~NodeParameter() = default;

bool NodeParameter::checkBound(const char* what) const {
    if (parameter_) return true;
    Log({"🛑 Error: parameter", def_.identifier, "is not bound to an audio unit:", what}, OSLog::general(),
        OSLogType::error);
    return false;
}

// Raises to min when at or below it, then lowers to max when above it. Refuses limits that form no
// range and a value that is not a number.
std::optional<AUValue> NodeParameter::clamped(AUValue value) const {
    const AUValue lower = parameter_->minValue();
    const AUValue upper = parameter_->maxValue();
    if (!(lower <= upper)) {
        Log({"🛑 Error: parameter", def_.identifier, "has no valid range:", lower, upper}, OSLog::general(),
            OSLogType::error);
        return std::nullopt;
    }
    if (std::isnan(value)) {
        Log({"🛑 Error: parameter", def_.identifier, "refuses a value that is not a number"}, OSLog::general(),
            OSLogType::error);
        return std::nullopt;
    }
    if (value <= lower) value = lower;
    if (value > upper) value = upper;
    return value;
}

AUValue NodeParameter::value() const { return parameter_ ? parameter_->value() : 0.0f; }

void NodeParameter::setValue(AUValue newValue) {
    if (!checkBound("value")) return;
    const auto value = clamped(newValue);
    if (!value) return;
    if (auto unitNode = std::dynamic_pointer_cast<platform::AVAudioUnit>(avAudioNode_)) {
        if (def_.address > std::numeric_limits<uint32_t>::max()) {
            Log({"🛑 Error: parameter address does not fit in 32 bits:", def_.address}, OSLog::general(),
                OSLogType::error);
        } else {
            platform::AudioUnitSetParameter(unitNode->audioUnit(), platform::AudioUnitParameterID(def_.address),
                                            platform::kAudioUnitScope_Global, 0, *value, 0);
        }
    }
    parameter_->setValue(*value);
}

AUValue NodeParameter::minValue() const { return parameter_ ? parameter_->minValue() : 0.0f; }
AUValue NodeParameter::maxValue() const { return parameter_ ? parameter_->maxValue() : 0.0f; }

void NodeParameter::ramp(AUValue value, float duration, float delay) {
    if (!checkBound("ramp")) return;
    const float rate = static_cast<float>(Settings::audioFormat().sampleRate());
    uint32_t delayFrames = framesFor(rate, delay);
    if (delayFrames > kMaximumDelayFrames) {
        std::cout << "Warning: delay longer than 4096, setting to to 4096" << std::endl;
        delayFrames = kMaximumDelayFrames;
    }
    if (!(parameter_->flags() & platform::kAudioUnitParameterFlag_CanRamp)) {
        std::cout << "Error: can't ramp parameter " << parameter_->displayName() << std::endl;
        return;
    }
    const auto target = clamped(value);
    if (!target || !avAudioNode_) return;
    const auto unit = avAudioNode_->auAudioUnit();
    const auto schedule = unit ? unit->scheduleParameterBlock() : nullptr;
    if (!schedule) return;
    schedule(platform::AUEventSampleTimeImmediate + int64_t(delayFrames), framesFor(rate, duration),
             parameter_->address(), *target);
}

void NodeParameter::beginAutomationRecording(std::function<void(platform::AUParameterAutomationEvent)> callback) {
    if (!checkBound("automation")) return;
    endAutomationRecording();
    auto shared = std::make_shared<std::function<void(platform::AUParameterAutomationEvent)>>(std::move(callback));
    parameterObserverToken_ = parameter_->tokenByAddingParameterAutomationObserver(
        [shared](int64_t count, const platform::AUParameterAutomationEvent* events) {
            for (int64_t i = 0; i < count; ++i) {
                const platform::AUParameterAutomationEvent event = events[i];
                platform::DispatchQueue::main().async([shared, event] { (*shared)(event); });
            }
        });
}

void NodeParameter::endAutomationRecording() {
    if (!parameterObserverToken_) return;
    if (parameter_) parameter_->removeParameterObserver(*parameterObserverToken_);
    parameterObserverToken_.reset();
}

void NodeParameter::associate(const std::shared_ptr<platform::AVAudioNode>& node) {
    avAudioNode_ = node;
    const auto unit = node ? node->auAudioUnit() : nullptr;
    const auto tree = unit ? unit->parameterTree() : nullptr;
    if (!tree) {
        Log({"No parameter tree."}, OSLog::general(), OSLogType::error);
        parameter_.reset();
        return;
    }
    parameter_ = tree->parameter(def_.address);
}

void NodeParameter::associate(const std::shared_ptr<platform::AVAudioNode>& node,
                              const std::shared_ptr<platform::AUParameter>& parameter) {
    avAudioNode_ = node;
    parameter_ = parameter;
}

void NodeParameter::touch(std::optional<AUValue> value, platform::AUParameterAutomationEventType type) {
    if (!parameter_) return;
    parameter_->setValue(value ? *value : parameter_->value(), 0, 0, type);
}

void NodeParameter::beginTouch(std::optional<AUValue> value) {
    touch(value, platform::AUParameterAutomationEventType::touch);
}

void NodeParameter::endTouch(std::optional<AUValue> value) {
    touch(value, platform::AUParameterAutomationEventType::release);
}

}  // namespace sonora
