// A bounded single-producer single-consumer queue of values, lock-free and allocation-free after
// construction: the way commands and notices cross between the main, render and helper threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

namespace platform::detail {

template <class T>
class SPSCRing {
public:
    explicit SPSCRing(size_t capacity) : capacity_(capacity + 1), slots_(std::make_unique<T[]>(capacity + 1)) {}
    SPSCRing(const SPSCRing&) = delete;
    SPSCRing& operator=(const SPSCRing&) = delete;

    // Producer side. False when the queue is full (the value is left untouched).
    bool push(T&& value) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t next = (tail + 1) % capacity_;
        if (next == head_.load(std::memory_order_acquire)) return false;
        slots_[tail] = std::move(value);
        tail_.store(next, std::memory_order_release);
        return true;
    }
    bool push(const T& value) {
        T copy = value;
        return push(std::move(copy));
    }

    // Consumer side. Moves the oldest value out; false when empty.
    bool pop(T& out) {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        out = std::move(slots_[head]);
        slots_[head] = T{};
        head_.store((head + 1) % capacity_, std::memory_order_release);
        return true;
    }

    bool empty() const { return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire); }

private:
    const size_t capacity_;
    std::unique_ptr<T[]> slots_;
    alignas(64) std::atomic<size_t> head_{0};
    alignas(64) std::atomic<size_t> tail_{0};
};

}  // namespace platform::detail
