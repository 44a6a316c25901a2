// A moment on the audio timeline: a host time (CLOCK_MONOTONIC nanoseconds), a sample time at a
// rate, or both. Immutable; an absent time is std::nullopt.
#pragma once

#include "platform/coreaudio/AudioTimeStamp.h"
#include "platform/foundation/HostTime.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace platform {

class AVAudioTime {
public:
    // init(hostTime:)
    explicit AVAudioTime(uint64_t hostTime) : hostTime_(hostTime), hostValid_(true) {}
    // init(sampleTime:atRate:)
    AVAudioTime(int64_t sampleTime, double sampleRate) : sampleTime_(sampleTime), sampleRate_(sampleRate), sampleValid_(true) {}
    // init(hostTime:sampleTime:atRate:)
    AVAudioTime(uint64_t hostTime, int64_t sampleTime, double sampleRate)
        : hostTime_(hostTime), sampleTime_(sampleTime), sampleRate_(sampleRate), hostValid_(true), sampleValid_(true) {}
    // init(audioTimeStamp:sampleRate:)
    AVAudioTime(const AudioTimeStamp& stamp, double sampleRate)
        : hostTime_(stamp.mHostTime), sampleTime_(int64_t(stamp.mSampleTime)), sampleRate_(sampleRate),
          hostValid_(stamp.mFlags & kAudioTimeStampHostTimeValid), sampleValid_(stamp.mFlags & kAudioTimeStampSampleTimeValid) {}

    static AVAudioTime timeWithHostTime(uint64_t hostTime) { return AVAudioTime(hostTime); }
    static AVAudioTime timeWithSampleTime(int64_t sampleTime, double sampleRate) { return AVAudioTime(sampleTime, sampleRate); }

    uint64_t hostTime() const { return hostTime_; }
    int64_t sampleTime() const { return sampleTime_; }
    double sampleRate() const { return sampleRate_; }
    bool isHostTimeValid() const { return hostValid_; }
    bool isSampleTimeValid() const { return sampleValid_; }

    AudioTimeStamp audioTimeStamp() const {
        AudioTimeStamp s;
        s.mHostTime = hostTime_;
        s.mSampleTime = double(sampleTime_);
        s.mFlags = (hostValid_ ? kAudioTimeStampHostTimeValid : 0) | (sampleValid_ ? kAudioTimeStampSampleTimeValid : 0);
        return s;
    }

    // Host ticks are nanoseconds.
    static uint64_t hostTimeForSeconds(double seconds) { return seconds <= 0 ? 0 : uint64_t(std::llround(seconds * 1e9)); }
    static double secondsForHostTime(uint64_t hostTime) { return double(hostTime) * 1e-9; }

    // extrapolateTimeFromAnchor: fills in the missing part from an anchor that has both; nullopt
    // when that cannot be done.
    std::optional<AVAudioTime> extrapolateTimeFromAnchor(const AVAudioTime& anchor) const {
        if (!anchor.hostValid_ || !anchor.sampleValid_) return std::nullopt;
        if (hostValid_ && sampleValid_) return *this;
        if (hostValid_) {
            const double dt = double(int64_t(hostTime_ - anchor.hostTime_)) * 1e-9;
            return AVAudioTime(hostTime_, anchor.sampleTime_ + int64_t(std::llround(dt * anchor.sampleRate_)), anchor.sampleRate_);
        }
        if (sampleValid_ && sampleRate_ == anchor.sampleRate_) {
            const double dt = double(sampleTime_ - anchor.sampleTime_) / anchor.sampleRate_;
            return AVAudioTime(anchor.hostTime_ + uint64_t(std::llround(dt * 1e9)), sampleTime_, sampleRate_);
        }
        return std::nullopt;
    }

    bool operator==(const AVAudioTime&) const = default;

private:
    uint64_t hostTime_ = 0;
    int64_t sampleTime_ = 0;
    double sampleRate_ = 0;
    bool hostValid_ = false;
    bool sampleValid_ = false;
};

}  // namespace platform
