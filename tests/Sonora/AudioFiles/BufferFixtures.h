// Small buffers for the audio-file tests, filled by a function of (channel, frame).
#pragma once

#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

namespace fixtures {

using platform::AVAudioCommonFormat;
using platform::AVAudioFormat;
using platform::AVAudioPCMBuffer;

inline std::shared_ptr<AVAudioPCMBuffer> floatBuffer(unsigned channels, double rate, uint32_t frames,
                                                     const std::function<float(unsigned, uint32_t)>& sample = {},
                                                     uint32_t capacity = 0, bool interleaved = false) {
    const AVAudioFormat format(AVAudioCommonFormat::pcmFormatFloat32, rate, channels, interleaved);
    auto buffer = AVAudioPCMBuffer::make(format, std::max(capacity, frames));
    buffer->setFrameLength(frames);
    const size_t stride = buffer->stride();
    for (unsigned c = 0; c < channels && sample; ++c) {
        float* data = interleaved ? buffer->floatChannelData()[0] + c : buffer->floatChannelData()[c];
        for (uint32_t i = 0; i < frames; ++i) data[i * stride] = sample(c, i);
    }
    return buffer;
}

inline float at(const AVAudioPCMBuffer& buffer, unsigned channel, uint32_t frame) {
    if (buffer.format().isInterleaved()) return buffer.floatChannelData()[0][frame * buffer.stride() + channel];
    return buffer.floatChannelData()[channel][frame];
}

// True when an entry of the log holds `text` at the given category and level.
inline bool logged(const std::string& text, const std::string& category, platform::OSLogType type) {
    const auto entries = platform::LogSink::entries();
    return std::any_of(entries.begin(), entries.end(), [&](const platform::OSLogEntry& e) {
        return e.category == category && e.type == type && e.message.find(text) != std::string::npos;
    });
}

}  // namespace fixtures
