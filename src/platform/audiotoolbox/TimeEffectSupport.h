// What the reverb, time-pitch and varispeed units share: deinterleaved buffers made when render
// resources are allocated, filled from the unit's input in pieces the source can render.
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/audiotoolbox/AURenderEvent.h"
#include "platform/audiotoolbox/AVAudioUnit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace platform::detail {

// Far beyond any signal (+120 dBFS), still far from overflowing a filter's sums.
inline constexpr float kLargestSample = 1e6f;

// Samples that are not finite become 0 and absurd ones are limited: either would poison the state
// of a recursive process or a resampler's filter.
inline void sanitize(float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i)
        samples[i] = std::isfinite(samples[i]) ? std::clamp(samples[i], -kLargestSample, kLargestSample) : 0.0f;
}

// A property setter's store: clamped to the range; NaN leaves the value as it was.
inline void storeClamped(std::atomic<float>& property, float value, float lower, float upper) {
    if (std::isnan(value)) return;
    property.store(std::clamp(value, lower, upper), std::memory_order_relaxed);
}

// A float property of the unit behind a node, as the node reads and sets it: read as stored, set
// clamped to lower ... upper (NaN leaves it as it was).
template <class Unit>
struct UnitProperty {
    std::atomic<float> Unit::*member;
    float lower, upper;

    float get(const AVAudioUnit& node) const { return (unit(node).*member).load(); }
    void set(const AVAudioUnit& node, float value) const { storeClamped(unit(node).*member, value, lower, upper); }

private:
    static Unit& unit(const AVAudioUnit& node) { return static_cast<Unit&>(*node.auAudioUnit()); }
};

// `channels` buffers of `capacity` frames and a list that points at them.
class ChannelBuffers {
public:
    ChannelBuffers() = default;
    ChannelBuffers(uint32_t channels, size_t capacity)
        : channels_(channels), capacity_(capacity), storage_(size_t(channels) * capacity, 0.0f),
          listStorage_(new unsigned char[AudioBufferListSize(channels)]), pointers_(channels) {
        list_ = reinterpret_cast<AudioBufferList*>(listStorage_.get());
        list_->mNumberBuffers = channels;
        for (uint32_t c = 0; c < channels; ++c) {
            pointers_[c] = storage_.data() + c * capacity;
            list_->mBuffers[c].mNumberChannels = 1;
            list_->mBuffers[c].mData = pointers_[c];
            list_->mBuffers[c].mDataByteSize = uint32_t(capacity * sizeof(float));
        }
    }

    uint32_t channels() const { return channels_; }
    size_t capacity() const { return capacity_; }
    float* operator[](uint32_t c) { return pointers_[c]; }
    const float* operator[](uint32_t c) const { return pointers_[c]; }
    float* const* data() const { return pointers_.data(); }
    void clear() { std::fill(storage_.begin(), storage_.end(), 0.0f); }

    // Pulls `frames` (at most capacity()) frames of input bus 0 into the buffers, sanitized. An
    // unconnected input gives silence.
    AUAudioUnitStatus pull(const AURenderPullInputBlock& pullInput, const AudioTimeStamp* timestamp, size_t frames) {
        AudioUnitRenderActionFlags flags = 0;
        const AUAudioUnitStatus status =
            pullInput ? pullInput(&flags, timestamp, AUAudioFrameCount(frames), 0, list_) : kAudioUnitErr_NoConnection;
        if (status != noErr) {
            for (uint32_t c = 0; c < channels_; ++c) std::memset(pointers_[c], 0, frames * sizeof(float));
            return status == kAudioUnitErr_NoConnection ? noErr : status;
        }
        for (uint32_t c = 0; c < channels_; ++c) sanitize(pointers_[c], frames);
        return noErr;
    }

private:
    uint32_t channels_ = 0;
    size_t capacity_ = 0;
    std::vector<float> storage_;
    std::unique_ptr<unsigned char[]> listStorage_;
    AudioBufferList* list_ = nullptr;
    std::vector<float*> pointers_;
};

// A unit that renders its own cycles from its input: the render block forwards to renderCycle(),
// and reset() leaves a request the render thread takes at its next cycle (takeResetRequest()).
class StreamingEffectUnit : public AUAudioUnit {
public:
    using AUAudioUnit::AUAudioUnit;

    void reset() override {
        AUAudioUnit::reset();
        resetRequested_.store(true);
    }

    AUInternalRenderBlock internalRenderBlock() const override {
        auto* self = const_cast<StreamingEffectUnit*>(this);
        return [self](AudioUnitRenderActionFlags*, const AudioTimeStamp* timestamp, AUAudioFrameCount frames, NSInteger,
                      AudioBufferList* output, const AURenderEvent*, AURenderPullInputBlock pull) {
            return self->renderCycle(timestamp, frames, output, pull);
        };
    }

protected:
    virtual AUAudioUnitStatus renderCycle(const AudioTimeStamp* timestamp, AUAudioFrameCount frames,
                                          AudioBufferList* output, const AURenderPullInputBlock& pull) = 0;
    bool takeResetRequest() { return resetRequested_.exchange(false); }
    void requestReset() { resetRequested_.store(true); }

private:
    std::atomic<bool> resetRequested_{false};
};

}  // namespace platform::detail
