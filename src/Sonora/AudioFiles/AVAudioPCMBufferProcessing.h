// Sample-level operations on PCM buffers: loudest block, per-channel arrays, fades, normalising,
// reversing, and buffers holding a whole file. Operations that change samples return a NEW buffer
// and leave their source untouched. They handle Float32 buffers (interleaved or not); other sample
// types are refused.
#pragma once

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace sonora {

using platform::AVAudioFile;
using platform::AVAudioFormat;
using platform::AVAudioFrameCount;
using platform::AVAudioFramePosition;
using platform::AVAudioPCMBuffer;
using platform::URL;

// The loudest 512-frame block of a buffer.
struct Peak {
    double time = 0;                       // start of the block in seconds (framePosition ÷ rate)
    AVAudioFramePosition framePosition = 0;  // first frame of the block
    float amplitude = 1.0f;                // largest absolute sample value found
};

// The loudest block, scanning every channel at every 512-frame block (the last one may be short);
// an equal later block does not move it. Nothing for an empty buffer or one without float data.
std::optional<Peak> peak(const AVAudioPCMBuffer& buffer);

// One array per channel, each frameLength long; nothing without float data.
std::optional<std::vector<std::vector<float>>> toFloatChannelData(const AVAudioPCMBuffer& buffer);

// A copy with a gain ramp of inTime seconds at the start and outTime seconds at the end; the gain
// steps once per frame and is the same on every channel. linearRamp picks the linear law, otherwise
// exponential (fade-in 0.01 → 1.0). Returns `buffer` itself when no fade can be applied, nullptr
// when the copy cannot be created.
std::shared_ptr<AVAudioPCMBuffer> fade(const std::shared_ptr<AVAudioPCMBuffer>& buffer, double inTime,
                                       double outTime, bool linearRamp);

// A copy scaled so the peak reaches 1.0. Returns `buffer` itself without float data or without a
// usable peak (none, 0, or not finite); nullptr when the copy cannot be created.
std::shared_ptr<AVAudioPCMBuffer> normalize(const std::shared_ptr<AVAudioPCMBuffer>& buffer);

// A copy with the valid frames in reverse order; nullptr when it cannot be created or the buffer
// holds no float data.
std::shared_ptr<AVAudioPCMBuffer> reverse(const AVAudioPCMBuffer& buffer);

// init(file:): the whole file from frame 0 in its processing format. nullptr when the buffer cannot
// be created (or the file has more frames than a buffer can hold); throws the read's NSErrorException.
std::shared_ptr<AVAudioPCMBuffer> makeBuffer(AVAudioFile& file);

// init(url:): makeBuffer of the file at `url`; nullptr when it cannot be opened. Throws read errors.
std::shared_ptr<AVAudioPCMBuffer> makeBuffer(const URL& url);

}  // namespace sonora
