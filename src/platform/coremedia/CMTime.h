// Core Media's rational time: value / timescale seconds.
#pragma once

#include <cstdint>

namespace platform {

using CMTimeValue = int64_t;
using CMTimeScale = int32_t;
using CMTimeFlags = uint32_t;
using CMItemCount = int64_t;

inline constexpr CMTimeFlags kCMTimeFlags_Valid = 1;

struct CMTime {
    CMTimeValue value = 0;
    CMTimeScale timescale = 0;
    CMTimeFlags flags = 0;
    int64_t epoch = 0;

    bool isValid() const { return (flags & kCMTimeFlags_Valid) && timescale > 0; }
    // The time in seconds; 0 for an invalid time.
    double seconds() const { return isValid() ? double(value) / double(timescale) : 0.0; }
    bool operator==(const CMTime& o) const {
        return isValid() == o.isValid() && (!isValid() || __int128(value) * o.timescale == __int128(o.value) * timescale);
    }
};

inline constexpr CMTime CMTimeMake(CMTimeValue value, CMTimeScale timescale) {
    return CMTime{value, timescale, timescale > 0 ? kCMTimeFlags_Valid : 0u, 0};
}
inline constexpr CMTime kCMTimeZero{0, 1, kCMTimeFlags_Valid, 0};
inline constexpr CMTime kCMTimeInvalid{};

inline double CMTimeGetSeconds(const CMTime& time) { return time.seconds(); }

}  // namespace platform
