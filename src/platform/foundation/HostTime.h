// The host clock: a monotonic tick counter in nanoseconds since boot (CLOCK_MONOTONIC), so one
// tick is one nanosecond and the timebase is 1/1.
#pragma once

#include <cstdint>

namespace platform {

using kern_return_t = int;
inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;

struct mach_timebase_info_data_t {
    uint32_t numer = 0;
    uint32_t denom = 0;
};

// The current host time in ticks.
uint64_t mach_absolute_time();

// Fills in the tick-to-nanosecond ratio (1/1 here); KERN_INVALID_ARGUMENT for a null pointer.
kern_return_t mach_timebase_info(mach_timebase_info_data_t* info);

}  // namespace platform
