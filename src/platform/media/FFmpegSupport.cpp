#include "platform/media/FFmpegSupport.h"

#include "platform/media/FFmpegLibrary.h"

namespace platform::detail {

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    ffmpeg().av_strerror(code, text, sizeof text);
    return text;
}

uint32_t losslessDepthFlag(int bits) {
    switch (bits) {
    case 16: return 1;
    case 20: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
    }
}

void fail(OSStatus status, const std::string& text) {
    throw NSErrorException(makeOSStatusError(status, text));
}

}  // namespace platform::detail
