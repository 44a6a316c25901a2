#include "platform/avfaudio/detail/CompletionQueue.h"

#include "platform/foundation/HostTime.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace platform::detail {

CompletionQueue::CompletionQueue() {
    sem_init(&wake_, 0, 0);
    thread_ = std::thread([this] { run(); });
}

CompletionQueue::~CompletionQueue() {
    quit_.store(true);
    sem_post(&wake_);
    if (thread_.joinable()) thread_.join();
    sem_destroy(&wake_);
}

void CompletionQueue::release(std::unique_ptr<CompletionQueue> queue) {
    if (!queue || !queue->isCallbackThread()) return;  // the unique_ptr joins the thread
    queue->quit_.store(true);
    queue->freeOnExit_ = true;
    queue->thread_.detach();
    queue.release();  // run() deletes it once the handler in progress returns
}

bool CompletionQueue::post(CompletionNotice&& notice) {
    if (!ring_.push(std::move(notice))) return false;
    posted_.fetch_add(1, std::memory_order_release);
    // Never blocks: wakes the callback thread if it sleeps.
    sem_post(&wake_);
    return true;
}

void CompletionQueue::run() {
    while (!quit_.load()) {
        if (sem_wait(&wake_) != 0) {
            if (errno == EINTR) continue;
            return;
        }
        CompletionNotice notice;
        if (quit_.load() || !ring_.pop(notice)) continue;
        // Played-back completions wait for the device clock to pass the item's last frame.
        while (notice.dueHostTime != 0 && mach_absolute_time() < notice.dueHostTime && !quit_.load())
            std::this_thread::sleep_for(std::chrono::nanoseconds(
                std::min<uint64_t>(notice.dueHostTime - mach_absolute_time(), 2'000'000)));
        if (auto target = notice.target.lock()) target->deliverCompletion(notice.itemID);
        {
            std::lock_guard lock(idleMutex_);
            delivered_.fetch_add(1, std::memory_order_release);
        }
        idle_.notify_all();
    }
    if (freeOnExit_) delete this;
}

void CompletionQueue::waitUntilIdle() {
    if (isCallbackThread()) return;
    const uint64_t target = posted_.load(std::memory_order_acquire);
    std::unique_lock lock(idleMutex_);
    idle_.wait(lock, [&] { return delivered_.load(std::memory_order_acquire) >= target || quit_.load(); });
}

}  // namespace platform::detail
