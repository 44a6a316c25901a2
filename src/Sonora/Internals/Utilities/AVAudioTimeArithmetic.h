// Arithmetic on audio time stamps: now, moving a time by seconds, completing a time from an anchor
// that has both parts, and the interval between two times.
//
//   const AVAudioTime start = sonora::now() + 0.1;   // a moment from now, to schedule playback
#pragma once

#include "platform/avfaudio/AVAudioTime.h"

#include <concepts>
#include <cstdint>
#include <optional>

namespace sonora {

using platform::AVAudioTime;

// Seconds in one host-clock tick (timebase numerator ÷ denominator × 1e-9), read once.
double secondsPerTick();

// AVAudioTime.now(): the current host time, no sample time.
AVAudioTime now();

// offset(seconds:): moves whichever parts are valid by the seconds (negative: earlier). The sample
// time moves by sample rate × seconds, truncated toward zero.
AVAudioTime offset(const AVAudioTime& time, double seconds);

// extrapolated(fromAnchor:): fills in the missing part of a one-part time from an anchor that has
// both parts. Unchanged when the time already has both, has none usable (a sample time at another
// rate than the anchor's) or the anchor lacks a part.
AVAudioTime extrapolated(const AVAudioTime& time, const AVAudioTime& anchor);

// timeInterval(since:): seconds from `other` to `time`, by host times, else by sample times, else
// by completing one from the other; none when the two cannot be related.
std::optional<double> timeInterval(const AVAudioTime& time, const AVAudioTime& other);

// seconds(sinceHostTime:): seconds from the given ticks to this host time (negative when the ticks
// are later); 0 when this time has no host time.
double secondsSinceHostTime(const AVAudioTime& time, uint64_t hostTime);

// AVAudioTime.fromHostTime(_:addingSeconds:): a host-only time the seconds after the ticks.
AVAudioTime fromHostTime(uint64_t hostTime, double addingSeconds);

}  // namespace sonora

namespace platform {

// time + seconds and time − seconds, as offset(seconds:). Declared beside the type so that they
// are found wherever an AVAudioTime is used.
AVAudioTime operator+(const AVAudioTime& time, double seconds);
AVAudioTime operator-(const AVAudioTime& time, double seconds);

template <std::integral Seconds>
AVAudioTime operator+(const AVAudioTime& time, Seconds seconds) {
    return time + double(seconds);
}
template <std::integral Seconds>
AVAudioTime operator-(const AVAudioTime& time, Seconds seconds) {
    return time - double(seconds);
}

}  // namespace platform
