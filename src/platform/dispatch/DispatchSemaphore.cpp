#include "platform/dispatch/DispatchSemaphore.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct DispatchSemaphore::State {
    std::mutex mutex;
    std::condition_variable available;
    long value = 0;
    long waiters = 0;
};

DispatchSemaphore::DispatchSemaphore(long value) : state_(std::make_shared<State>()) {
    state_->value = std::max(0L, value);
}

long DispatchSemaphore::signal() {
    std::lock_guard lock(state_->mutex);
    ++state_->value;
    if (state_->waiters == 0) return 0;
    state_->available.notify_one();
    return 1;
}

void DispatchSemaphore::wait() { wait(DispatchTime::distantFuture()); }

DispatchTimeoutResult DispatchSemaphore::wait(DispatchTime timeout) {
    std::unique_lock lock(state_->mutex);
    const auto ready = [this] { return state_->value > 0; };
    ++state_->waiters;
    bool got = true;
    if (timeout.isDistantFuture()) {
        state_->available.wait(lock, ready);
    } else {
        const auto deadline =
            std::chrono::steady_clock::time_point(std::chrono::nanoseconds(timeout.uptimeNanoseconds));
        got = state_->available.wait_until(lock, deadline, ready);
    }
    --state_->waiters;
    if (!got) return DispatchTimeoutResult::timedOut;
    --state_->value;
    return DispatchTimeoutResult::success;
}

}  // namespace platform
