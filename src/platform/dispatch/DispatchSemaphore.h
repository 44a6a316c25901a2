// A counting semaphore: wait takes one unit (blocking while there is none), signal gives one back.
// Copies refer to the same semaphore.
#pragma once

#include "platform/dispatch/DispatchTime.h"

#include <memory>

namespace platform {

class DispatchSemaphore {
public:
    // Starts with the given number of units (a negative value counts as 0).
    explicit DispatchSemaphore(long value);

    // Gives a unit back; returns non-zero when a waiting thread was woken.
    long signal();
    // Takes a unit, waiting as long as it takes.
    void wait();
    // Takes a unit, waiting until the deadline at most.
    DispatchTimeoutResult wait(DispatchTime timeout);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
