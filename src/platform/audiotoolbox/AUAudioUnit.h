// A version-3 audio unit: buses, a parameter tree, bypass, event blocks and a render function.
// Engine nodes own one each; effect units supply internalRenderBlock, which the engine calls once
// per cycle on the render thread.
#pragma once

#include "platform/audiotoolbox/AUAudioUnitBusArray.h"
#include "platform/audiotoolbox/AUParameterTree.h"
#include "platform/audiotoolbox/AudioComponentDescription.h"
#include "platform/avfaudio/detail/SPSCRing.h"
#include "platform/coreaudio/AudioTimeStamp.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

struct OpaqueAudioComponentInstance;
// The C handle of an audio unit (AudioUnitSetParameter and friends take it).
using AudioUnit = OpaqueAudioComponentInstance*;

using AUEventSampleTime = int64_t;
using AUAudioFrameCount = uint32_t;
using AUAudioUnitStatus = OSStatus;
using AudioUnitPropertyID = uint32_t;
using AudioUnitScope = uint32_t;
using AudioUnitElement = uint32_t;

// "As soon as possible": an event time of AUEventSampleTimeImmediate + n means n frames into the
// next render cycle.
inline constexpr AUEventSampleTime AUEventSampleTimeImmediate = static_cast<int64_t>(0xFFFFFFFF00000000ull);

// Schedules a parameter change, ramped linearly over rampDurationSampleFrames when the unit can.
using AUScheduleParameterBlock = std::function<void(AUEventSampleTime eventSampleTime,
                                                    AUAudioFrameCount rampDurationSampleFrames,
                                                    AUParameterAddress parameterAddress, AUValue value)>;
// Schedules a MIDI message (length bytes) on a virtual cable.
using AUScheduleMIDIEventBlock =
    std::function<void(AUEventSampleTime eventSampleTime, uint8_t cable, int64_t length, const uint8_t* midiBytes)>;
// Renders one cycle: reads `input` (null for units without inputs; bus 0, deinterleaved, the
// input bus format) and fills `output` (output bus 0 format). Runs on the render thread.
using AUInternalRenderBlock = std::function<AUAudioUnitStatus(AUAudioFrameCount frames, const AudioBufferList* input,
                                                              AudioBufferList* output, const AudioTimeStamp& timestamp)>;
// Property hooks an owner installs (the engine's output node answers the device properties).
using AUPropertyGetter = std::function<OSStatus(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, void* outData,
                                                uint32_t* ioDataSize)>;
using AUPropertySetter = std::function<OSStatus(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement,
                                                const void* inData, uint32_t inDataSize)>;

// A scheduled parameter change waiting for the render thread.
struct AURenderEvent {
    AUEventSampleTime eventSampleTime = 0;
    AUAudioFrameCount rampDurationSampleFrames = 0;
    AUParameterAddress address = 0;
    AUValue value = 0;
};

class AUAudioUnit : public std::enable_shared_from_this<AUAudioUnit> {
public:
    // A unit with the given numbers of buses, all in `format` (standard 44100 Hz stereo when invalid).
    explicit AUAudioUnit(AudioComponentDescription description = {}, uint32_t inputBusCount = 1,
                         uint32_t outputBusCount = 1, AVAudioFormat format = {});
    virtual ~AUAudioUnit();
    AUAudioUnit(const AUAudioUnit&) = delete;
    AUAudioUnit& operator=(const AUAudioUnit&) = delete;

    const AudioComponentDescription& componentDescription() const { return description_; }
    std::string audioUnitName;

    // The C handle for this unit; valid while the unit lives.
    AudioUnit audioUnit() { return reinterpret_cast<AudioUnit>(this); }
    // The unit behind a handle (null for null).
    static AUAudioUnit* fromAudioUnit(AudioUnit unit) { return reinterpret_cast<AUAudioUnit*>(unit); }

    // Effects pass their input through unchanged when set; mixers and players store it only.
    bool shouldBypassEffect() const { return bypass_.load(std::memory_order_relaxed); }
    void setShouldBypassEffect(bool bypass) { bypass_.store(bypass, std::memory_order_relaxed); }

    // The parameters (null when the unit has none). Set on the main thread.
    std::shared_ptr<AUParameterTree> parameterTree() const { return parameterTree_; }
    void setParameterTree(std::shared_ptr<AUParameterTree> tree) { parameterTree_ = std::move(tree); }

    // Sets the parameter's value at once (observers told) and queues the event for the render
    // thread, which ramps when the parameter can ramp. Unknown addresses are ignored.
    AUScheduleParameterBlock scheduleParameterBlock();
    // Null for units without MIDI input.
    AUScheduleMIDIEventBlock scheduleMIDIEventBlock() const { return midiBlock_; }
    void setScheduleMIDIEventBlock(AUScheduleMIDIEventBlock block) { midiBlock_ = std::move(block); }

    AUAudioUnitBusArray& inputBusses() { return inputBusses_; }
    AUAudioUnitBusArray& outputBusses() { return outputBusses_; }
    const AUAudioUnitBusArray& inputBusses() const { return inputBusses_; }
    const AUAudioUnitBusArray& outputBusses() const { return outputBusses_; }

    // The render function (null for units the engine renders itself: mixers, players, I/O).
    const AUInternalRenderBlock& internalRenderBlock() const { return renderBlock_; }
    void setInternalRenderBlock(AUInternalRenderBlock block) { renderBlock_ = std::move(block); }

    // Largest cycle the render function must handle.
    AUAudioFrameCount maximumFramesToRender = 4096;

    // Clears render state (delay lines, ramps, pending events); called by AudioUnitReset.
    virtual void reset();
    // Called by reset(); units hook their own state here.
    std::function<void()> resetHandler;

    // AudioUnitGetProperty/SetProperty land here: the installed hooks, else InvalidProperty.
    virtual OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 void* outData, uint32_t* ioDataSize);
    virtual OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 const void* inData, uint32_t inDataSize);
    void setPropertyHooks(AUPropertyGetter getter, AUPropertySetter setter);

    // Render thread: takes the next scheduled parameter event, false when none is waiting.
    bool popRenderEvent(AURenderEvent& event);

private:
    void scheduleParameter(AUEventSampleTime time, AUAudioFrameCount ramp, AUParameterAddress address, AUValue value);

    AudioComponentDescription description_;
    std::atomic<bool> bypass_{false};
    std::shared_ptr<AUParameterTree> parameterTree_;
    AUScheduleMIDIEventBlock midiBlock_;
    AUAudioUnitBusArray inputBusses_;
    AUAudioUnitBusArray outputBusses_;
    AUInternalRenderBlock renderBlock_;
    AUPropertyGetter propertyGetter_;
    AUPropertySetter propertySetter_;

    // Main thread → render thread, single consumer; producers serialise on eventsMutex_.
    detail::SPSCRing<AURenderEvent> events_{256};
    std::mutex eventsMutex_;
};

}  // namespace platform
