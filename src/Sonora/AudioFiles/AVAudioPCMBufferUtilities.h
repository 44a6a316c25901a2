// Frame copying and inspection on PCM buffers: cut a time range, append frames, copy the head or
// the tail, test for silence and fingerprint the samples. Appends write at the destination's
// frameLength and raise it; nothing here lowers a frameLength.
#pragma once

#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <memory>
#include <string>

namespace sonora {

using platform::AVAudioFrameCount;
using platform::AVAudioFramePosition;
using platform::AVAudioPCMBuffer;

// extract(from:to:): a new buffer with the frames from startTime to endTime (seconds; an end
// below one frame means the end of the buffer). Its capacity is the requested length and its
// frameLength stops at this buffer's end. Nothing for an empty or invalid range.
std::shared_ptr<AVAudioPCMBuffer> extract(const AVAudioPCMBuffer& buffer, double startTime, double endTime);

// append(_:): all of source's valid frames after destination's.
void append(AVAudioPCMBuffer& destination, const AVAudioPCMBuffer& source);

// append(_:startingFrame:frameCount:): frameCount frames of source from startingFrame. The formats
// must be equal, both Float32, the range inside source and the frames must fit; otherwise nothing
// is copied (and an error is logged).
void append(AVAudioPCMBuffer& destination, const AVAudioPCMBuffer& source, AVAudioFramePosition startingFrame,
            AVAudioFrameCount frameCount);

// copy(from:readOffset:frames:): appends up to `frames` frames (0: all the source has from the
// offset) of source, limited by the room left; returns the frames copied (0 when none).
AVAudioFrameCount copy(AVAudioPCMBuffer& destination, const AVAudioPCMBuffer& source, AVAudioFrameCount readOffset = 0,
                       AVAudioFrameCount frames = 0);

// copy(fromFrame:): a new buffer with the frames from `frame` to the end; nothing when there are none.
std::shared_ptr<AVAudioPCMBuffer> copyFromFrame(const AVAudioPCMBuffer& buffer, AVAudioFrameCount frame);

// copy(to:): a new buffer of capacity `count` with the first frames; nothing when none were copied.
std::shared_ptr<AVAudioPCMBuffer> copyTo(const AVAudioPCMBuffer& buffer, AVAudioFrameCount count);

// True when every valid sample of every channel is exactly 0 (or there is no float data).
bool isSilent(const AVAudioPCMBuffer& buffer);

// Lower-case hexadecimal MD5 of every Float32 sample up to the CAPACITY, frame by frame with the
// channels interleaved; the digest of no bytes without float data.
std::string md5(const AVAudioPCMBuffer& buffer);

}  // namespace sonora
