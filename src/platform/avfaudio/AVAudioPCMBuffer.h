// A buffer of PCM frames in one format: one aligned array per channel (non-interleaved) or one
// interleaved array. Fresh storage is zero-filled.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"

#include <memory>
#include <vector>

namespace platform {

class AVAudioPCMBuffer {
public:
    // init(pcmFormat:frameCapacity:): nullptr for an invalid or non-PCM format. Capacity 0 is allowed.
    static std::shared_ptr<AVAudioPCMBuffer> make(const AVAudioFormat& format, AVAudioFrameCount frameCapacity);
    ~AVAudioPCMBuffer();
    AVAudioPCMBuffer(const AVAudioPCMBuffer&) = delete;
    AVAudioPCMBuffer& operator=(const AVAudioPCMBuffer&) = delete;

    const AVAudioFormat& format() const { return format_; }
    AVAudioFrameCount frameCapacity() const { return frameCapacity_; }
    AVAudioFrameCount frameLength() const { return frameLength_; }
    // A length above the capacity is refused with a log line; the length is then unchanged.
    void setFrameLength(AVAudioFrameCount frameLength);
    // Samples between two frames of one channel's array: 1 when non-interleaved, else the channel count.
    size_t stride() const { return stride_; }

    // One pointer per channel (non-interleaved) or a single pointer (interleaved); nullptr unless the
    // format's sample type matches.
    float* const* floatChannelData() const;
    int16_t* const* int16ChannelData() const;
    int32_t* const* int32ChannelData() const;

    // The storage described as a C buffer list (mDataByteSize = capacity in bytes).
    const AudioBufferList* audioBufferList() const { return bufferList(); }
    AudioBufferList* mutableAudioBufferList() { return bufferList(); }

private:
    AVAudioPCMBuffer() = default;
    AudioBufferList* bufferList() const { return reinterpret_cast<AudioBufferList*>(listStorage_.get()); }

    AVAudioFormat format_;
    AVAudioFrameCount frameCapacity_ = 0;
    AVAudioFrameCount frameLength_ = 0;
    size_t stride_ = 1;
    std::vector<void*> channels_;            // one pointer per array
    std::vector<std::shared_ptr<unsigned char>> storage_;  // owns each array's memory
    std::unique_ptr<unsigned char[]> listStorage_;
};

}  // namespace platform
