#include "platform/foundation/HostTime.h"

#include <ctime>

namespace platform {

uint64_t mach_absolute_time() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec);
}

kern_return_t mach_timebase_info(mach_timebase_info_data_t* info) {
    if (!info) return KERN_INVALID_ARGUMENT;
    info->numer = 1;
    info->denom = 1;
    return KERN_SUCCESS;
}

}  // namespace platform
