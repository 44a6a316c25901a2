// Internal: uniform access to the float samples of a buffer, interleaved or not.
#pragma once

#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <cstddef>
#include <optional>

namespace sonora::detail {

// Channel c, frame i of a Float32 buffer lives at channel(c)[i * stride]. Built only for buffers
// with float data, so the processing code never indexes past what the platform allocated.
class FloatChannelView {
public:
    static std::optional<FloatChannelView> of(const platform::AVAudioPCMBuffer& buffer) {
        float* const* data = buffer.floatChannelData();
        if (!data) return std::nullopt;
        return FloatChannelView(data, buffer.format().channelCount(), buffer.format().isInterleaved());
    }

    unsigned channelCount() const { return channels_; }
    size_t stride() const { return interleaved_ ? channels_ : 1; }
    float* channel(unsigned c) const { return interleaved_ ? data_[0] + c : data_[c]; }
    float& at(unsigned c, size_t frame) const { return channel(c)[frame * stride()]; }

private:
    FloatChannelView(float* const* data, unsigned channels, bool interleaved)
        : data_(data), channels_(channels), interleaved_(interleaved) {}
    float* const* data_;
    unsigned channels_;
    bool interleaved_;
};

}  // namespace sonora::detail
