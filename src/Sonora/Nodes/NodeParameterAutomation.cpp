// Parameter automation: a render observer on the parameter's unit that, before each cycle,
// schedules the events falling into that cycle through the unit's parameter-scheduling block.
#include "Sonora/Nodes/NodeParameter.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/AVAudioTimeArithmetic.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "Sonora/Nodes/NodeParameterAutomation.h"
#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace sonora {

using platform::AUEventSampleTimeImmediate;

platform::AURenderObserver createAutomationRenderObserver(platform::AUParameterAddress address,
                                                          platform::AUScheduleParameterBlock scheduleParameterBlock,
                                                          const AutomationEvent* events, size_t count,
                                                          float sampleRate, double startSampleTime) {
    if (!scheduleParameterBlock || (count > 0 && !events) || !(sampleRate > 0)) return nullptr;
    struct State {
        std::vector<AutomationEvent> events;
        size_t index = 0;  // only the render thread moves it
        platform::AUParameterAddress address;
        platform::AUScheduleParameterBlock schedule;
        double startSampleTime;
        float sampleRate;
    };
    auto state = std::make_shared<State>();
    state->events.assign(events, events + count);
    std::sort(state->events.begin(), state->events.end(),
              [](const AutomationEvent& a, const AutomationEvent& b) { return a.startTime < b.startTime; });
    state->address = address;
    state->schedule = std::move(scheduleParameterBlock);
    state->startSampleTime = startSampleTime;
    state->sampleRate = sampleRate;

    return [state](platform::AudioUnitRenderActionFlags flags, const platform::AudioTimeStamp* timestamp,
                   platform::AUAudioFrameCount frames, platform::NSInteger) {
        if (flags != platform::kAudioUnitRenderAction_PreRender || !timestamp) return;
        State& s = *state;
        const std::vector<AutomationEvent>& list = s.events;
        const double rate = s.sampleRate;
        const double elapsedFrames = timestamp->mSampleTime - s.startSampleTime;
        const double nowSeconds = elapsedFrames / rate;
        const auto now = float(nowSeconds);

        // Events already over: one immediate value, the last of them.
        if (s.index < list.size() && now > list[s.index].startTime + list[s.index].rampDuration) {
            float value = list[s.index].targetValue;
            while (s.index < list.size() && now > list[s.index].startTime + list[s.index].rampDuration)
                value = list[s.index++].targetValue;
            s.schedule(AUEventSampleTimeImmediate, 0, s.address, value);
        }

        const auto bufferEnd = float(double(frames) / rate + nowSeconds);
        while (s.index < list.size() && list[s.index].startTime < bufferEnd) {
            const AutomationEvent& event = list[s.index++];
            // Counted in frames from the start, rounded: a time on a frame stays on it whatever
            // the float's last bit says.
            const auto offset = int64_t(std::llround(double(event.startTime) * rate - elapsedFrames));
            const auto rampFrames = int64_t(std::llround(rate * double(event.rampDuration)));
            // Counted from this cycle's first frame; an event already under way starts now with
            // what is left of its ramp.
            if (offset >= 0) {
                s.schedule(AUEventSampleTimeImmediate + offset, uint32_t(std::clamp<int64_t>(rampFrames, 0, UINT32_MAX)),
                           s.address, event.targetValue);
            } else {
                s.schedule(AUEventSampleTimeImmediate, uint32_t(std::clamp<int64_t>(offset + rampFrames, 0, UINT32_MAX)),
                           s.address, event.targetValue);
            }
        }
    };
}

void NodeParameter::automate(const std::vector<AutomationEvent>& events, std::optional<platform::AVAudioTime> startTime) {
    if (!avAudioNode_ || !parameter_) {
        Log({"🛑 Error: automation needs a parameter bound to a node:", def_.identifier}, OSLog::general(),
            OSLogType::error);
        throw std::logic_error("automation needs a parameter bound to a node");
    }
    const double rate = Settings::sampleRate();
    platform::AVAudioTime reference = avAudioNode_->lastRenderTime().value_or(platform::AVAudioTime(int64_t(0), rate));
    if (!reference.isSampleTimeValid()) {
        const auto engine = avAudioNode_->engine();
        reference = platform::AVAudioTime(engine && engine->isInManualRenderingMode() ? engine->manualRenderingSampleTime() : 0,
                                          rate);
    }
    platform::AVAudioTime start = startTime.value_or(reference);
    // A host-clock start becomes a sample time, by its distance from the reference.
    if (start.isHostTimeValid() && reference.isHostTimeValid()) {
        start = offset(reference, platform::AVAudioTime::secondsForHostTime(start.hostTime()) -
                                      platform::AVAudioTime::secondsForHostTime(reference.hostTime()));
    } else if (!start.isSampleTimeValid()) {
        start = reference;
    }

    std::vector<AutomationEvent> usable;
    usable.reserve(events.size());
    for (const AutomationEvent& event : events) {
        if (std::isnan(event.startTime) || std::isnan(event.rampDuration)) {
            Log({"Automation event dropped: its time is not a number"}, OSLog::general(), OSLogType::error);
            continue;
        }
        usable.push_back(event);
    }

    const auto unit = avAudioNode_->auAudioUnit();
    if (renderObserverToken_) unit->removeRenderObserver(*renderObserverToken_);
    auto observer = createAutomationRenderObserver(parameter_->address(), unit->scheduleParameterBlock(), usable.data(),
                                                   usable.size(), float(rate), double(start.sampleTime()));
    if (!observer) return;
    renderObserverToken_ = unit->tokenByAddingRenderObserver(std::move(observer));
}

void NodeParameter::stopAutomation() {
    if (!renderObserverToken_ || !avAudioNode_) return;
    avAudioNode_->auAudioUnit()->removeRenderObserver(*renderObserverToken_);
}

void NodeParameter::rampFrom(platform::AUValue start, platform::AUValue target, float duration) {
    ramp(start, 0.02f, 0);
    ramp(target, duration, 0.02f);
}

}  // namespace sonora
