// A live node parameter bound to one audio-unit parameter: a clamped value, a Boolean view, ramps,
// automation observation and touch gestures. Created unbound from a definition; bound by
// associate(with:) or by Node::setupParameterTree().
#pragma once

#include "Sonora/Internals/Utilities/ClosedRange.h"
#include "Sonora/Nodes/AutomationEvent.h"
#include "platform/audiotoolbox/AURenderEvent.h"
#include "platform/avfaudio/AVAudioTime.h"
#include "Sonora/Nodes/NodeParameterDef.h"
#include "platform/audiotoolbox/AUParameter.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class AVAudioNode;
}

namespace sonora {

class NodeParameter {
public:
    // init(_:): unbound, no tokens.
    explicit NodeParameter(NodeParameterDef def);
    virtual ~NodeParameter();

    // The node whose audio unit holds the parameter (null until bound).
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const { return avAudioNode_; }
    // The bound platform parameter (null until bound).
    std::shared_ptr<platform::AUParameter> parameter() const { return parameter_; }

    const NodeParameterDef& def() const { return def_; }
    void setDef(NodeParameterDef def) { def_ = std::move(def); }

    // The bound parameter's value (0 when unbound).
    platform::AUValue value() const;
    // Clamps into the platform parameter's limits and sets it, through AudioUnitSetParameter too
    // when the node is an audio unit. Unbound, or a not-a-number value: logged and ignored.
    void setValue(platform::AUValue value);

    // value > 0.5; writing stores 1 or 0 (clamped).
    bool boolValue() const { return value() > 0.5f; }
    void setBoolValue(bool value) { setValue(value ? 1.0f : 0.0f); }

    platform::AUValue minValue() const;
    platform::AUValue maxValue() const;
    ClosedRange<platform::AUValue> range() const { return {minValue(), maxValue()}; }

    // Token of a render observer installed for automation (held so that it can be removed).
    std::optional<int64_t> renderObserverToken() const { return renderObserverToken_; }
    void setRenderObserverToken(std::optional<int64_t> token) { renderObserverToken_ = token; }

    // Ramps to `value` over `duration` seconds after `delay` seconds (at most 4096 frames).
    void ramp(platform::AUValue value, float duration, float delay = 0);

    // Plays the events into the parameter while the engine renders, from `startTime` (a sample
    // time, or a host time turned into one; none: the node's last render time). Replaces the
    // automation installed before. Events with a time that is not a number are dropped (logged).
    // Unbound: a programming error (std::logic_error).
    void automate(const std::vector<AutomationEvent>& events,
                  std::optional<platform::AVAudioTime> startTime = std::nullopt);
    // Removes the automation's render observer; the token stays stored.
    void stopAutomation();
    // ramp(from:to:duration:): to `start` over 0.02 s, then to `target` over `duration` seconds.
    void rampFrom(platform::AUValue start, platform::AUValue target, float duration);

    std::optional<platform::AUParameterObserverToken> parameterObserverToken() const { return parameterObserverToken_; }
    void setParameterObserverToken(std::optional<platform::AUParameterObserverToken> token) {
        parameterObserverToken_ = token;
    }

    // Calls `callback` on the main queue with a copy of every automation event of the parameter,
    // in arrival order. A second call replaces the first observer.
    void beginAutomationRecording(std::function<void(platform::AUParameterAutomationEvent)> callback);
    void endAutomationRecording();

    // Binds to the parameter at def().address in the node's audio-unit parameter tree.
    void associate(const std::shared_ptr<platform::AVAudioNode>& node);
    void associate(const std::shared_ptr<platform::AVAudioNode>& node,
                   const std::shared_ptr<platform::AUParameter>& parameter);

    // Touch and release gestures with the given value, or the current one.
    void beginTouch(std::optional<platform::AUValue> value = std::nullopt);
    void endTouch(std::optional<platform::AUValue> value = std::nullopt);

private:
    bool checkBound(const char* what) const;
    std::optional<platform::AUValue> clamped(platform::AUValue value) const;
    void touch(std::optional<platform::AUValue> value, platform::AUParameterAutomationEventType type);

    std::shared_ptr<platform::AVAudioNode> avAudioNode_;
    std::shared_ptr<platform::AUParameter> parameter_;
    NodeParameterDef def_;
    std::optional<int64_t> renderObserverToken_;
    std::optional<platform::AUParameterObserverToken> parameterObserverToken_;
};

}  // namespace sonora
