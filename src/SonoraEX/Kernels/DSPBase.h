// The base of the real-time processing kernels: input pulling, splitting a render at its events,
// 128 linearly ramped parameter slots addressed by parameter address, and bypass. A kernel
// supplies process(); the audio unit (SonoraAU) reaches it only through the bridge functions.
//
// Threads: render(), process() and the event handlers run on the render thread without locks or
// allocation. Other threads use only setParameter (deferred), getParameter and the bypass flag.
#pragma once

#include "platform/audiotoolbox/AURenderEvent.h"
#include "platform/audiotoolbox/ParameterRamp.h"
#include "platform/foundation/NSError.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonora {

// One rampable parameter (the render-thread ramp every unit of the layer uses).
using ParameterRampSlot = platform::ParameterRampSlot;

// The frames process() produces: `count` frames from offset `start` into the current buffers.
struct FrameSpan {
    uint32_t start = 0;
    uint32_t count = 0;
};

class DSPBase {
public:
    static constexpr size_t kSlotCount = 128;

    DSPBase(int inputBusCount, bool inPlace);
    virtual ~DSPBase();
    DSPBase(const DSPBase&) = delete;
    DSPBase& operator=(const DSPBase&) = delete;

    virtual void process(FrameSpan span) = 0;
    // Deferred sets (initialized, not immediate) ramp over 0.02 s from the next render; the
    // others jump. Addresses above 127 or without a slot are ignored.
    virtual void setParameter(uint64_t address, float value, bool immediate);
    // The slot's target; 0 for addresses above 127 or without a slot.
    virtual float getParameter(uint64_t address);
    virtual void reset() {}
    virtual void setWavetable(const float* table, size_t length, int index);
    virtual void init(int channelCount, double sampleRate);
    virtual void deinit();
    virtual void handleMIDIEvent(const platform::AUMIDIEvent& event);
    virtual void handleParameterEvent(const platform::AUParameterEvent& event);

    // The render: pulls input, splits at the events and processes or bypasses each segment.
    platform::AUAudioUnitStatus render(platform::AudioUnitRenderActionFlags* flags,
                                       const platform::AudioTimeStamp* timestamp, platform::AUAudioFrameCount frames,
                                       platform::NSInteger outputBus, platform::AudioBufferList* output,
                                       const platform::AURenderEvent* events, platform::AURenderPullInputBlock pull);
    // A block that runs render() on this kernel (which must outlive it).
    platform::AUInternalRenderBlock internalRenderBlock();

    size_t inputBusCount() const { return inputLists.size(); }
    bool canProcessInPlace() const { return inPlace; }
    void setBuffer(platform::AudioBufferList* list, size_t bus);
    bool bypassed() const { return !started.load(std::memory_order_relaxed); }
    void setBypass(bool bypass) { started.store(!bypass, std::memory_order_relaxed); }
    bool isInitialized() const { return initialized; }
    int channels() const { return channelCount; }
    double rate() const { return sampleRate; }

    static void startRamp(ParameterRampSlot& slot, uint32_t durationFrames, float value);

protected:
    void processWithEvents(const platform::AudioTimeStamp& timestamp, platform::AUAudioFrameCount frameCount,
                           const platform::AURenderEvent* events);
    void processOrBypass(uint32_t frameCount, uint32_t bufferOffset);
    void handleEvent(const platform::AURenderEvent& event);

    // Helpers for kernels.
    void copyFirstChannel(FrameSpan span);
    void clearOutput(FrameSpan span);
    void stepRamps(uint32_t frames);
    // Handles `event` and every following one not after `time`; returns the first left.
    const platform::AURenderEvent* handleEventsUpTo(const platform::AURenderEvent* event, int64_t time);

    // Buffers of the current render: input bus b and the output (null outside a render, and
    // before the first pull).
    const float* inputChannel(size_t bus, uint32_t channel) const;
    float* outputChannel(uint32_t channel) const;
    uint32_t inputChannelCount(size_t bus) const;
    uint32_t outputChannelCount() const;

    std::vector<platform::AudioBufferList*> busBuffers;
    int channelCount = 2;
    double sampleRate = 44100.0;
    bool initialized = false;
    int64_t nowSampleTime = 0;
    ParameterRampSlot* rampSlots[kSlotCount] = {};
    std::vector<platform::AudioBufferList*> inputLists;
    platform::AudioBufferList* outputList = nullptr;
    bool inPlace;
    std::atomic<bool> started{true};
};

}  // namespace sonora
