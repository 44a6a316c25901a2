// Turning times into frame positions. Every place where seconds become a frame index goes through
// here, so that a time computed as frames ÷ rate maps back to exactly those frames.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace sonora {

// A sample position (time × rate) as a whole frame: snapped to the nearest integer when within 1e-6
// of it (double rounding must not drop a frame), then truncated toward zero. Nothing when the
// position is not finite or does not fit a signed 64-bit frame position; callers check the range
// they need (a negative result is returned as such).
inline std::optional<int64_t> samplePositionToFrame(double position) {
    if (!std::isfinite(position)) return std::nullopt;
    // ±2^63 are exact doubles; anything at or beyond them does not fit int64_t.
    constexpr double kLimit = 9223372036854775808.0;
    if (position >= kLimit || position < -kLimit) return std::nullopt;
    const double nearest = std::nearbyint(position);
    if (std::fabs(position - nearest) <= 1e-6) position = nearest;
    const double truncated = std::trunc(position);
    if (truncated >= kLimit) return std::nullopt;
    return static_cast<int64_t>(truncated);
}

// The frame at `seconds` for `sampleRate`: seconds × rate through samplePositionToFrame.
inline std::optional<int64_t> secondsToFrame(double seconds, double sampleRate) {
    return samplePositionToFrame(seconds * sampleRate);
}

}  // namespace sonora
