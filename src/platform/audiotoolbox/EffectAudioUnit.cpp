#include "platform/audiotoolbox/EffectAudioUnit.h"

#include "platform/audiotoolbox/AudioUnit.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace platform {

EffectAudioUnit::EffectAudioUnit(OSType subType, const std::vector<EffectParameterInfo>& parameters)
    : AUAudioUnit({kAudioUnitType_Effect, subType, kAudioUnitManufacturer_Apple, 0, 0}, 1, 1), info_(parameters) {
    std::vector<std::shared_ptr<AUParameter>> children;
    for (const EffectParameterInfo& p : info_) {
        const AudioUnitParameterOptions flags =
            p.meter ? kAudioUnitParameterFlag_IsReadable
                    : kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable |
                          kAudioUnitParameterFlag_CanRamp;
        auto parameter = AUParameterTree::createParameter(p.identifier, p.name, p.address, p.minValue, p.maxValue,
                                                          p.unit, std::nullopt, flags);
        parameter->storeValue(p.defaultValue);
        parameters_.push_back(parameter.get());
        slots_.push_back(std::make_unique<ParameterRampSlot>(p.defaultValue));
        children.push_back(std::move(parameter));
    }
    auto tree = AUParameterTree::createTree(std::move(children));
    tree->implementorValueObserver = [this](AUParameter* parameter, AUValue value) { parameterSet(parameter, value); };
    setParameterTree(std::move(tree));
    setInternalRenderBlock([this](AudioUnitRenderActionFlags*, const AudioTimeStamp* timestamp,
                                  AUAudioFrameCount frames, NSInteger outputBus, AudioBufferList* output,
                                  const AURenderEvent* events, AURenderPullInputBlock pull) -> AUAudioUnitStatus {
        if (outputBus != 0) return kAudioUnitErr_InvalidElement;
        return render(timestamp, frames, output, events, pull);
    });
}

int EffectAudioUnit::indexOf(AUParameterAddress address) const {
    for (size_t i = 0; i < info_.size(); ++i)
        if (info_[i].address == address) return int(i);
    return -1;
}

AUValue EffectAudioUnit::clampTo(size_t index, AUValue value) const {
    return std::clamp(value, info_[index].minValue, info_[index].maxValue);
}

void EffectAudioUnit::parameterSet(AUParameter* parameter, AUValue value) {
    const int index = indexOf(parameter->address());
    if (index < 0 || info_[size_t(index)].meter || std::isnan(value)) return;
    // The tree keeps the value as set; the unit plays the clamped one. Only the render thread moves
    // the ramps: it takes the value at its next cycle (at once on its first).
    slots_[size_t(index)]->post(clampTo(size_t(index), value));
}

bool EffectAudioUnit::allocateRenderResources(NSError* outError) {
    if (!AUAudioUnit::allocateRenderResources(outError)) return false;
    const AVAudioFormat& format = outputBusses()[0]->format();
    channels_ = std::min<uint32_t>(format.channelCount(), kMaxChannels);
    sampleRate_ = format.sampleRate() > 0 ? format.sampleRate() : 44100;
    glideFrames_ = uint32_t(int64_t(sampleRate_ * kParameterGlideSeconds));
    rendering_.store(false, std::memory_order_release);
    clearRequested_.store(false, std::memory_order_relaxed);
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (info_[i].meter) continue;
        const AUValue value = parameters_[i]->value();
        slots_[i]->jump(std::isnan(value) ? info_[i].defaultValue : clampTo(i, value));
        slots_[i]->seenCount = slots_[i]->changeCount.load(std::memory_order_acquire);
    }
    prepare(channels_, sampleRate_);
    clearState();
    return true;
}

void EffectAudioUnit::deallocateRenderResources() {
    AUAudioUnit::deallocateRenderResources();
    rendering_.store(false, std::memory_order_release);
}

void EffectAudioUnit::reset() {
    // The render thread owns the state: it clears it at its next cycle.
    clearRequested_.store(true, std::memory_order_release);
    AUAudioUnit::reset();
}

bool EffectAudioUnit::ramping() const {
    for (const auto& slot : slots_)
        if (slot->ramping()) return true;
    return false;
}

void EffectAudioUnit::stepRamps() {
    for (const auto& slot : slots_) slot->step();
}

void EffectAudioUnit::skipRamps(uint32_t frames) {
    for (const auto& slot : slots_) slot->skip(frames);
}

void EffectAudioUnit::storeMeter(size_t index, AUValue value) { parameters_[index]->storeValue(value); }

AUAudioUnitStatus EffectAudioUnit::render(const AudioTimeStamp* timestamp, AUAudioFrameCount frames,
                                          AudioBufferList* output, const AURenderEvent* events,
                                          AURenderPullInputBlock pull) {
    if (!timestamp || !output) return kAudio_ParamError;
    if (pull) {
        AudioUnitRenderActionFlags flags = 0;
        const AUAudioUnitStatus status = pull(&flags, timestamp, frames, 0, output);
        if (status != noErr && status != kAudioUnitErr_NoConnection) return status;
    }
    const uint32_t glide = rendering_.exchange(true, std::memory_order_acq_rel) ? glideFrames_ : 0;
    if (clearRequested_.exchange(false, std::memory_order_acquire)) clearState();
    for (size_t i = 0; i < slots_.size(); ++i)
        if (!info_[i].meter) slots_[i]->takePosted(glide);

    float* channels[kMaxChannels] = {};
    const uint32_t channelCount = std::min(output->mNumberBuffers, channels_);
    for (uint32_t c = 0; c < channelCount; ++c) {
        channels[c] = static_cast<float*>(output->mBuffers[c].mData);
        if (!channels[c]) return kAudio_ParamError;
    }

    const auto cycleStart = int64_t(timestamp->mSampleTime);
    uint32_t done = 0;
    while (done < frames) {
        // Events due by the current frame take effect before it.
        while (events && events->head.eventSampleTime <= cycleStart + int64_t(done)) {
            const AURenderEvent& event = *events;
            events = event.head.next;
            if (event.head.eventType != AURenderEventType::parameter &&
                event.head.eventType != AURenderEventType::parameterRamp)
                continue;
            const int index = indexOf(event.parameter.parameterAddress);
            if (index < 0 || info_[size_t(index)].meter || std::isnan(event.parameter.value)) continue;
            slots_[size_t(index)]->startRamp(event.parameter.rampDurationSampleFrames,
                                             clampTo(size_t(index), event.parameter.value));
        }
        uint32_t count = frames - done;
        if (events) count = uint32_t(std::clamp<int64_t>(events->head.eventSampleTime - cycleStart - done, 1, count));
        processOrBypass(channels, channelCount, done, count);
        done += count;
    }
    return noErr;
}

void EffectAudioUnit::processOrBypass(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count) {
    if (shouldBypassEffect()) {
        // The input is already in the output; the ramps keep their timing.
        skipRamps(count);
        return;
    }
    process(channels, channelCount, start, count);
}

void registerEffectUnits() {
    detail::registerDelayUnit();
    detail::registerDistortionUnit();
    detail::registerDynamicsUnits();
    detail::registerFilterUnits();
}

}  // namespace platform
