#include "platform/dispatch/DispatchGroup.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OSLog.h"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

struct DispatchGroup::State {
    std::mutex mutex;
    std::condition_variable empty;
    long pending = 0;
    std::vector<std::pair<std::shared_ptr<detail::QueueCore>, std::function<void()>>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->pending;
}

void DispatchGroup::leave() {
    std::lock_guard lock(state_->mutex);
    if (state_->pending == 0) {
        os_log(OSLog{"io.tamberlo.platform", "dispatch"}, OSLogType::error, "Unbalanced call to DispatchGroup.leave()");
        return;
    }
    if (--state_->pending > 0) return;
    // Queued before the waiters wake, so a waiter finds the notifications already on their way.
    for (auto& [core, work] : state_->notifications) DispatchQueue::enqueue(core, std::move(work));
    state_->notifications.clear();
    state_->empty.notify_all();
}

void DispatchGroup::wait() { wait(DispatchTime::distantFuture()); }

DispatchTimeoutResult DispatchGroup::wait(DispatchTime timeout) {
    std::unique_lock lock(state_->mutex);
    const auto done = [this] { return state_->pending == 0; };
    if (timeout.isDistantFuture()) {
        state_->empty.wait(lock, done);
        return DispatchTimeoutResult::success;
    }
    const auto deadline = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(timeout.uptimeNanoseconds));
    return state_->empty.wait_until(lock, deadline, done) ? DispatchTimeoutResult::success
                                                          : DispatchTimeoutResult::timedOut;
}

void DispatchGroup::notify(DispatchQueue& queue, std::function<void()> work) {
    if (!work) return;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->pending > 0) {
            state_->notifications.emplace_back(queue.core(), std::move(work));
            return;
        }
    }
    queue.async(std::move(work));
}

}  // namespace platform
