// Audio files through FFmpeg: every format libsndfile does not read (MP3, AAC/M4A/MP4/MOV, ALAC in
// MP4, Opus/WebM, ...). Reads the first audio stream with exact lengths: encoder delay and padding
// are trimmed as the container signals them, and seeking is frame-exact.
#pragma once

#include "platform/media/AudioFileBackend.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::detail {

// Opens the first audio stream of a file. nullptr when FFmpeg finds no audio in the content (its
// reason in `failure`); throws NSErrorException when it finds an audio stream it cannot decode, or
// ('typ?') when FFmpeg itself cannot be loaded.
std::unique_ptr<AudioFileBackend> openFFmpegForReading(const std::string& path, std::string* failure);

// The on-disk descriptions of a media file's audio streams in container order; empty when FFmpeg
// cannot read the file or cannot be loaded.
std::vector<AudioStreamBasicDescription> probeAudioStreams(const std::string& path);

}  // namespace platform::detail
