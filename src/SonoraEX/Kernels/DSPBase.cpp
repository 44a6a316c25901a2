#include "SonoraEX/Kernels/DSPBase.h"

#include "platform/audiotoolbox/AudioUnit.h"

#include <algorithm>
#include <cstring>

namespace sonora {

using platform::AudioBufferList;
using platform::AURenderEvent;
using platform::AURenderEventType;

DSPBase::DSPBase(int inputBusCount, bool inPlace)
    : inputLists(size_t(std::max(inputBusCount, 0)), nullptr), inPlace(inPlace) {}

DSPBase::~DSPBase() = default;

void DSPBase::setParameter(uint64_t address, float value, bool immediate) {
    if (address >= kSlotCount || !rampSlots[address]) return;
    ParameterRampSlot& slot = *rampSlots[address];
    if (!immediate && initialized) return slot.post(value);
    slot.jump(value);
}

float DSPBase::getParameter(uint64_t address) {
    if (address >= kSlotCount || !rampSlots[address]) return 0.0f;
    return rampSlots[address]->target.load(std::memory_order_relaxed);
}

void DSPBase::setWavetable(const float*, size_t, int) {}

void DSPBase::init(int channels, double rate) {
    channelCount = channels;
    sampleRate = rate;
    initialized = true;
}

void DSPBase::deinit() { initialized = false; }

void DSPBase::handleMIDIEvent(const platform::AUMIDIEvent&) {}

void DSPBase::handleParameterEvent(const platform::AUParameterEvent& event) {
    const uint64_t address = event.parameterAddress;
    if (address >= kSlotCount || !rampSlots[address]) return;
    startRamp(*rampSlots[address], event.rampDurationSampleFrames, event.value);
}

void DSPBase::startRamp(ParameterRampSlot& slot, uint32_t durationFrames, float value) {
    slot.startRamp(durationFrames, value);
}

void DSPBase::setBuffer(AudioBufferList* list, size_t bus) {
    if (busBuffers.size() < bus + 1) busBuffers.resize(bus + 1, nullptr);
    busBuffers[bus] = list;
}

platform::AUInternalRenderBlock DSPBase::internalRenderBlock() {
    DSPBase* kernel = this;
    return [kernel](platform::AudioUnitRenderActionFlags* flags, const platform::AudioTimeStamp* timestamp,
                    platform::AUAudioFrameCount frames, platform::NSInteger outputBus, AudioBufferList* output,
                    const AURenderEvent* events, platform::AURenderPullInputBlock pull) {
        return kernel->render(flags, timestamp, frames, outputBus, output, events, pull);
    };
}

platform::AUAudioUnitStatus DSPBase::render(platform::AudioUnitRenderActionFlags*, const platform::AudioTimeStamp* timestamp,
                                            platform::AUAudioFrameCount frames, platform::NSInteger outputBus,
                                            AudioBufferList* output, const AURenderEvent* events,
                                            platform::AURenderPullInputBlock pull) {
    // One output bus: a host asking for another made a programming error; the render thread
    // cannot log it, so it answers with the status.
    if (outputBus != 0) return platform::kAudioUnitErr_InvalidElement;
    if (!timestamp || !output) return platform::kAudio_ParamError;
    if (pull) {
        if (inPlace && inputLists.size() == 1) {
            // The input lands in the output buffers directly.
            inputLists[0] = output;
            platform::AudioUnitRenderActionFlags flags = 0;
            pull(&flags, timestamp, frames, 0, output);
        } else {
            for (size_t b = 0; b < inputLists.size(); ++b) {
                AudioBufferList* list = b < busBuffers.size() ? busBuffers[b] : nullptr;
                inputLists[b] = list;
                if (!list) continue;
                for (uint32_t c = 0; c < list->mNumberBuffers; ++c) list->mBuffers[c].mDataByteSize = frames * sizeof(float);
                platform::AudioUnitRenderActionFlags flags = 0;
                pull(&flags, timestamp, frames, platform::NSInteger(b), list);
            }
        }
    }
    outputList = output;
    processWithEvents(*timestamp, frames, events);
    return platform::noErr;
}

void DSPBase::processWithEvents(const platform::AudioTimeStamp& timestamp, platform::AUAudioFrameCount frameCount,
                                const AURenderEvent* events) {
    nowSampleTime = int64_t(timestamp.mSampleTime);

    // Deferred sets restart their ramps, up to the first address without a slot.
    const auto rampFrames = uint32_t(int64_t(sampleRate * platform::kParameterGlideSeconds));
    for (ParameterRampSlot* slot : rampSlots) {
        if (!slot) break;
        slot->takePosted(rampFrames);
    }
    if (frameCount == 0) return;

    uint32_t remaining = frameCount;
    for (;;) {
        if (!events) {
            processOrBypass(remaining, frameCount - remaining);
            return;
        }
        // Segments stop at the buffer's end, whatever the host handed in.
        const int64_t ahead = events->head.eventSampleTime - nowSampleTime;
        const auto segment = uint32_t(std::clamp<int64_t>(ahead, 0, remaining));
        if (segment > 0) {
            processOrBypass(segment, frameCount - remaining);
            remaining -= segment;
            nowSampleTime += segment;
        }
        if (remaining == 0) return;
        events = handleEventsUpTo(events, nowSampleTime);
    }
}

const AURenderEvent* DSPBase::handleEventsUpTo(const AURenderEvent* event, int64_t time) {
    if (!event) return nullptr;
    handleEvent(*event);
    event = event->head.next;
    while (event && event->head.eventSampleTime <= time) {
        handleEvent(*event);
        event = event->head.next;
    }
    return event;
}

void DSPBase::handleEvent(const AURenderEvent& event) {
    switch (event.head.eventType) {
        case AURenderEventType::parameter:
        case AURenderEventType::parameterRamp:
            handleParameterEvent(event.parameter);
            break;
        case AURenderEventType::MIDI:
            handleMIDIEvent(event.MIDI);
            break;
        default:
            break;
    }
}

void DSPBase::processOrBypass(uint32_t frameCount, uint32_t bufferOffset) {
    if (started.load(std::memory_order_relaxed)) {
        process({bufferOffset, frameCount});
        return;
    }
    // Bypassed: ramps keep their timing.
    stepRamps(frameCount);
    const FrameSpan span{bufferOffset, frameCount};
    if (inputLists.empty()) {
        clearOutput(span);
        return;
    }
    if (inPlace && inputLists[0] == outputList) return;
    if (!inputLists[0]) {
        // Nothing was pulled: silence rather than stale memory.
        clearOutput(span);
        return;
    }
    for (uint32_t c = 0; c < outputChannelCount() && c < uint32_t(std::max(channelCount, 0)); ++c) {
        const float* in = inputChannel(0, c);
        float* out = outputChannel(c);
        if (in) std::memcpy(out + bufferOffset, in + bufferOffset, frameCount * sizeof(float));
        else std::memset(out + bufferOffset, 0, frameCount * sizeof(float));
    }
}

void DSPBase::copyFirstChannel(FrameSpan span) {
    const float* first = outputChannel(0);
    if (!first) return;
    for (uint32_t c = 1; c < outputChannelCount() && c < uint32_t(std::max(channelCount, 0)); ++c)
        std::memcpy(outputChannel(c) + span.start, first + span.start, span.count * sizeof(float));
}

void DSPBase::clearOutput(FrameSpan span) {
    for (uint32_t c = 0; c < outputChannelCount() && c < uint32_t(std::max(channelCount, 0)); ++c)
        std::memset(outputChannel(c) + span.start, 0, span.count * sizeof(float));
}

void DSPBase::stepRamps(uint32_t frames) {
    for (ParameterRampSlot* slot : rampSlots)
        if (slot) slot->skip(frames);
}

const float* DSPBase::inputChannel(size_t bus, uint32_t channel) const {
    const AudioBufferList* list = bus < inputLists.size() ? inputLists[bus] : nullptr;
    if (!list || channel >= list->mNumberBuffers) return nullptr;
    return static_cast<const float*>(list->mBuffers[channel].mData);
}

float* DSPBase::outputChannel(uint32_t channel) const {
    if (!outputList || channel >= outputList->mNumberBuffers) return nullptr;
    return static_cast<float*>(outputList->mBuffers[channel].mData);
}

uint32_t DSPBase::inputChannelCount(size_t bus) const {
    const AudioBufferList* list = bus < inputLists.size() ? inputLists[bus] : nullptr;
    return list ? list->mNumberBuffers : 0;
}

uint32_t DSPBase::outputChannelCount() const { return outputList ? outputList->mNumberBuffers : 0; }

}  // namespace sonora
