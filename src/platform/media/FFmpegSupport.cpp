#include "platform/media/FFmpegSupport.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include <mutex>

namespace platform::detail {

void quietFFmpegLogs() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
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
