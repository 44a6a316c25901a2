// Small helpers shared by the FFmpeg decoder and encoder.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::detail {

// The names FFmpeg's libraries are loaded by (libavutil, libavcodec, libavformat): those of the
// headers we build with.
std::vector<std::string> ffmpegLibraryNames();

// FFmpeg's text for an AVERROR code.
std::string avErrorText(int code);

// Apple's lossless format flag for a source bit depth (16, 20, 24, 32 -> 1 ... 4); 0 for others.
uint32_t losslessDepthFlag(int bits);

// Throws NSErrorException with an OSStatus error carrying `text`.
[[noreturn]] void fail(OSStatus status, const std::string& text);

}  // namespace platform::detail
