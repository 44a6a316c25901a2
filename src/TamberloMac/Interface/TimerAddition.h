// Holding and restarting a timer without invalidating it.
#pragma once

#include "platform/foundation/NSTimer.h"

namespace tamberlo {

// pause: when the timer is valid, its fire date moves to the distant future.
inline void pause(platform::NSTimer& timer) {
    if (timer.isValid()) timer.setFireDate(platform::NSTimer::distantFuture());
}
// resumeWithTimeInterval: when valid, it fires `seconds` from now (and then every interval).
inline void resumeWithTimeInterval(platform::NSTimer& timer, double seconds) {
    using Clock = platform::NSTimer::Clock;
    if (timer.isValid())
        timer.setFireDate(Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}
// resume: when valid, it fires now.
inline void resume(platform::NSTimer& timer) { resumeWithTimeInterval(timer, 0); }

}  // namespace tamberlo
