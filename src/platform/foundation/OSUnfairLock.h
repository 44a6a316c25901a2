// os_unfair_lock: a small non-recursive lock without fairness; a waiter sleeps on the lock word
// (a futex through std::atomic::wait) instead of spinning.
//
//   os_unfair_lock lock = OS_UNFAIR_LOCK_INIT;
//   os_unfair_lock_lock(&lock); ... os_unfair_lock_unlock(&lock);
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

struct os_unfair_lock {
    std::atomic<uint32_t> state{0};  // 0 free, 1 held, 2 held with waiters
};
#define OS_UNFAIR_LOCK_INIT {}

inline void os_unfair_lock_lock(os_unfair_lock* lock) {
    uint32_t expected = 0;
    if (lock->state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return;
    while (lock->state.exchange(2, std::memory_order_acquire) != 0) lock->state.wait(2, std::memory_order_relaxed);
}

inline bool os_unfair_lock_trylock(os_unfair_lock* lock) {
    uint32_t expected = 0;
    return lock->state.compare_exchange_strong(expected, 1, std::memory_order_acquire);
}

inline void os_unfair_lock_unlock(os_unfair_lock* lock) {
    if (lock->state.exchange(0, std::memory_order_release) == 2) lock->state.notify_one();
}

}  // namespace platform
