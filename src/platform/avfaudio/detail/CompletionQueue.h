// Carries "this scheduled item is done" from the render thread to a callback thread of the engine,
// which runs the completion handlers: never on the render thread, in the order they were posted.
// The render thread only pushes and posts a semaphore (no lock, no wait); the callback thread
// sleeps on that semaphore until there is work.
#pragma once

#include "platform/avfaudio/detail/SPSCRing.h"

#include <semaphore.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace platform::detail {

class CompletionTarget {
public:
    virtual ~CompletionTarget() = default;
    // Callback thread: the item finished (runs its handler unless it ran already).
    virtual void deliverCompletion(uint64_t itemID) = 0;
};

struct CompletionNotice {
    std::weak_ptr<CompletionTarget> target;
    uint64_t itemID = 0;
    uint64_t dueHostTime = 0;  // not before this host time (0: at once)
};

class CompletionQueue {
public:
    CompletionQueue();
    ~CompletionQueue();  // joins the thread; notices still waiting are dropped

    // Lets the queue go from any thread. On its own callback thread (a handler dropped the last
    // owner of the engine) the thread cannot join itself: it stops and frees the queue when the
    // handler returns.
    static void release(std::unique_ptr<CompletionQueue> queue);

    // Render thread (one producer at a time). False when the queue is full.
    bool post(CompletionNotice&& notice);

    // Waits until every notice posted so far has been delivered (returns at once on the callback
    // thread, where it would wait for itself).
    void waitUntilIdle();
    bool isCallbackThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();
    SPSCRing<CompletionNotice> ring_{8192};
    sem_t wake_;
    std::atomic<bool> quit_{false};
    std::atomic<uint64_t> posted_{0};
    std::atomic<uint64_t> delivered_{0};
    std::mutex idleMutex_;
    std::condition_variable idle_;
    bool freeOnExit_ = false;  // callback thread only
    std::thread thread_;
};

}  // namespace platform::detail
