// The time of a render cycle's first frame: its sample time and its host time, with flags saying
// which of them are valid.
#pragma once

#include <cstdint>

namespace platform {

using AudioTimeStampFlags = uint32_t;
inline constexpr AudioTimeStampFlags kAudioTimeStampNothingValid = 0;
inline constexpr AudioTimeStampFlags kAudioTimeStampSampleTimeValid = 1u << 0;
inline constexpr AudioTimeStampFlags kAudioTimeStampHostTimeValid = 1u << 1;
inline constexpr AudioTimeStampFlags kAudioTimeStampRateScalarValid = 1u << 2;
inline constexpr AudioTimeStampFlags kAudioTimeStampSampleHostTimeValid =
    kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid;

struct AudioTimeStamp {
    double mSampleTime = 0;
    uint64_t mHostTime = 0;  // CLOCK_MONOTONIC nanoseconds
    double mRateScalar = 1.0;
    uint64_t mWordClockTime = 0;
    AudioTimeStampFlags mFlags = kAudioTimeStampNothingValid;
    uint32_t mReserved = 0;
};

}  // namespace platform
