// A point on the host clock (CLOCK_MONOTONIC, nanoseconds) used as a deadline by the dispatch
// queues, groups and semaphores.
#pragma once

#include "platform/foundation/HostTime.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

namespace platform {

enum class DispatchTimeoutResult { success, timedOut };

struct DispatchTime {
    uint64_t uptimeNanoseconds = 0;

    // The current host time.
    static DispatchTime now() { return DispatchTime{mach_absolute_time()}; }
    // A deadline that never comes: waits without a limit.
    static DispatchTime distantFuture() { return DispatchTime{std::numeric_limits<uint64_t>::max()}; }

    bool isDistantFuture() const { return uptimeNanoseconds == std::numeric_limits<uint64_t>::max(); }

    // Later (or, for negative seconds, earlier) by the seconds; saturates at 0 and at distantFuture.
    DispatchTime operator+(double seconds) const {
        if (isDistantFuture() || std::isnan(seconds)) return *this;
        const double delta = std::trunc(seconds * 1e9);
        constexpr double maxTicks = double(std::numeric_limits<uint64_t>::max());
        if (delta >= 0) {
            if (delta >= maxTicks - double(uptimeNanoseconds)) return distantFuture();
            return DispatchTime{uptimeNanoseconds + uint64_t(delta)};
        }
        if (-delta >= double(uptimeNanoseconds)) return DispatchTime{0};
        return DispatchTime{uptimeNanoseconds - uint64_t(-delta)};
    }
    DispatchTime operator-(double seconds) const { return *this + -seconds; }

    template <class Rep, class Period>
    DispatchTime operator+(std::chrono::duration<Rep, Period> duration) const {
        return *this + std::chrono::duration<double>(duration).count();
    }

    auto operator<=>(const DispatchTime&) const = default;
};

}  // namespace platform
