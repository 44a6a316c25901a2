// Encoded audio files written through FFmpeg: AAC (its native encoder) or ALAC, in MPEG-4 (the
// mp4 or ipod muxer, with the encoder delay in the edit list so the file plays exactly the frames
// written) or in raw ADTS.
#pragma once

#include "platform/media/AudioFileBackend.h"

#include <memory>
#include <string>

namespace platform::detail {

enum class FFmpegContainer { mp4, ipod, adts };

// Creates (replacing) a file encoding `format`: mFormatID 'aac ' or 'alac' (for ALAC the format
// flags give the source depth: 1 = 16, 2 = 20, 3 = 24, 4 = 32 bits), mSampleRate and
// mChannelsPerFrame. `bitRate` in bit/s for AAC; 0 picks 64000 per channel (at most 320000).
// Frames are taken as Float32 per channel. The trailer is written by close(). Throws
// NSErrorException ('fmt?' for a format the encoder or container refuses, or when FFmpeg cannot be
// loaded).
std::unique_ptr<AudioFileBackend> createFFmpegEncoderForWriting(const std::string& path, FFmpegContainer container,
                                                                const AudioStreamBasicDescription& format,
                                                                uint32_t bitRate);

}  // namespace platform::detail
