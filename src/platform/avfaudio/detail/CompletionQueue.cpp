#include "platform/avfaudio/detail/CompletionQueue.h"

#include "platform/foundation/HostTime.h"

#include <chrono>

namespace platform::detail {

CompletionQueue::CompletionQueue() : thread_([this] { run(); }) {}

CompletionQueue::~CompletionQueue() {
    quit_.store(true);
    thread_.join();
}

void CompletionQueue::run() {
    using namespace std::chrono_literals;
    while (!quit_.load()) {
        CompletionNotice notice;
        busy_.store(true);
        if (!ring_.pop(notice)) {
            busy_.store(false);
            std::this_thread::sleep_for(1ms);
            continue;
        }
        // Played-back completions wait for the device clock to pass the item's last frame.
        while (notice.dueHostTime != 0 && mach_absolute_time() < notice.dueHostTime && !quit_.load())
            std::this_thread::sleep_for(std::chrono::nanoseconds(
                std::min<uint64_t>(notice.dueHostTime - mach_absolute_time(), 2'000'000)));
        if (auto target = notice.target.lock()) target->deliverCompletion(notice.itemID);
    }
}

void CompletionQueue::waitUntilIdle() {
    using namespace std::chrono_literals;
    if (isCallbackThread()) return;
    while (!ring_.empty() || busy_.load()) std::this_thread::sleep_for(200us);
}

}  // namespace platform::detail
