// Small helpers shared by the FFmpeg decoder and encoder.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

namespace platform::detail {

// Silences FFmpeg's own console log (once per process): failures reach callers as NSErrors instead.
void quietFFmpegLogs();

// FFmpeg's text for an AVERROR code.
std::string avErrorText(int code);

// Throws NSErrorException with an OSStatus error carrying `text`.
[[noreturn]] void fail(OSStatus status, const std::string& text);

}  // namespace platform::detail
