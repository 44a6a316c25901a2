#include "Sonora/Internals/Utilities/AVAudioTimeArithmetic.h"

#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "platform/foundation/HostTime.h"

#include <cmath>
#include <limits>

namespace sonora {

namespace {

// Host ticks in a second (denominator ÷ numerator × 1e9). Converting with this factor rather than
// with secondsPerTick keeps whole seconds whole: 1 s is exactly 1e9 ticks, not 999999999.
double ticksPerSecond() {
    static const double value = [] {
        platform::mach_timebase_info_data_t info;
        platform::mach_timebase_info(&info);
        return 1e9 * double(info.denom) / double(info.numer);
    }();
    return value;
}

// Signed ticks in the seconds, truncated toward zero; clamped to what 64 bits hold.
int64_t ticks(double seconds) {
    const double t = std::trunc(seconds * ticksPerSecond());
    if (std::isnan(t)) return 0;
    if (t >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (t <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return int64_t(t);
}

// The host time moved by signed ticks (unsigned arithmetic, so a negative delta subtracts).
uint64_t moved(uint64_t hostTime, int64_t delta) { return hostTime + uint64_t(delta); }

// Frames in the seconds at the rate, truncated toward zero; clamped to what 64 bits hold.
int64_t frames(double sampleRate, double seconds) {
    if (const auto f = secondsToFrame(seconds, sampleRate)) return *f;
    const double position = sampleRate * seconds;
    if (std::isnan(position)) return 0;
    return position > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// Signed distance between two host times in seconds.
double secondsBetween(uint64_t later, uint64_t earlier) { return double(int64_t(later - earlier)) / ticksPerSecond(); }

}  // namespace

double secondsPerTick() {
    static const double value = [] {
        platform::mach_timebase_info_data_t info;
        platform::mach_timebase_info(&info);
        return double(info.numer) / double(info.denom) * 1e-9;
    }();
    return value;
}

AVAudioTime now() { return AVAudioTime(platform::mach_absolute_time()); }

AVAudioTime offset(const AVAudioTime& time, double seconds) {
    const bool host = time.isHostTimeValid();
    const bool sample = time.isSampleTimeValid();
    if (host && sample) {
        return AVAudioTime(moved(time.hostTime(), ticks(seconds)),
                           time.sampleTime() + frames(time.sampleRate(), seconds), time.sampleRate());
    }
    if (host) return AVAudioTime(moved(time.hostTime(), ticks(seconds)));
    if (sample) return AVAudioTime(time.sampleTime() + frames(time.sampleRate(), seconds), time.sampleRate());
    return time;
}

AVAudioTime extrapolated(const AVAudioTime& time, const AVAudioTime& anchor) {
    const bool host = time.isHostTimeValid();
    const bool sample = time.isSampleTimeValid() && time.sampleRate() == anchor.sampleRate();
    if ((time.isHostTimeValid() && time.isSampleTimeValid()) || (!host && !sample)) return time;
    if (!anchor.isHostTimeValid() || !anchor.isSampleTimeValid()) return time;

    const double rate = anchor.sampleRate();
    if (host) {
        const double delta = secondsBetween(time.hostTime(), anchor.hostTime());
        const double f = std::round(rate * delta);  // halves away from zero
        const int64_t sampleTime = anchor.sampleTime() + (std::isnan(f) ? 0 : int64_t(f));
        return AVAudioTime(time.hostTime(), sampleTime, rate);
    }
    const double delta = double(time.sampleTime() - anchor.sampleTime()) / rate;
    return AVAudioTime(moved(anchor.hostTime(), ticks(delta)), time.sampleTime(), rate);
}

std::optional<double> timeInterval(const AVAudioTime& time, const AVAudioTime& other) {
    if (time.isHostTimeValid() && other.isHostTimeValid()) return secondsBetween(time.hostTime(), other.hostTime());
    if (time.isSampleTimeValid() && other.isSampleTimeValid())
        return double(time.sampleTime() - other.sampleTime()) / time.sampleRate();
    const bool timeComplete = time.isHostTimeValid() && time.isSampleTimeValid();
    const bool otherComplete = other.isHostTimeValid() && other.isSampleTimeValid();
    // Only reached when one side has no usable part, so a completion may still lack a sample time.
    if (timeComplete) {
        const AVAudioTime completed = extrapolated(other, time);
        if (!completed.isSampleTimeValid()) return std::nullopt;
        return double(time.sampleTime() - completed.sampleTime()) / time.sampleRate();
    }
    if (otherComplete) {
        const AVAudioTime completed = extrapolated(time, other);
        if (!completed.isSampleTimeValid()) return std::nullopt;
        return double(completed.sampleTime() - other.sampleTime()) / time.sampleRate();
    }
    return std::nullopt;
}

double secondsSinceHostTime(const AVAudioTime& time, uint64_t hostTime) {
    if (!time.isHostTimeValid()) return 0.0;
    return secondsBetween(time.hostTime(), hostTime);
}

AVAudioTime fromHostTime(uint64_t hostTime, double addingSeconds) {
    platform::mach_timebase_info_data_t info;
    platform::mach_timebase_info(&info);
    const double t = std::trunc(addingSeconds * (1e9 * double(info.denom) / double(info.numer)));
    int64_t delta = 0;
    if (t >= 9.2e18) delta = std::numeric_limits<int64_t>::max();
    else if (t <= -9.2e18) delta = std::numeric_limits<int64_t>::min();
    else if (!std::isnan(t)) delta = int64_t(t);
    return AVAudioTime(moved(hostTime, delta));
}

}  // namespace sonora

namespace platform {

AVAudioTime operator+(const AVAudioTime& time, double seconds) { return sonora::offset(time, seconds); }
AVAudioTime operator-(const AVAudioTime& time, double seconds) { return sonora::offset(time, -seconds); }

}  // namespace platform
