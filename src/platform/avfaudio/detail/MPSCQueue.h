// A bounded multi-producer single-consumer queue of trivially copyable values, lock-free and
// allocation-free after construction: any thread may push (the render thread included), one
// thread pops. Each cell carries a sequence number that says whose turn it is.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace platform::detail {

template <class T>
class MPSCQueue {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    // Holds at least `capacity` values (rounded up to a power of two).
    explicit MPSCQueue(size_t capacity)
        : mask_(std::bit_ceil(capacity < 2 ? size_t(2) : capacity) - 1), cells_(std::make_unique<Cell[]>(mask_ + 1)) {
        for (size_t i = 0; i <= mask_; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
    }
    MPSCQueue(const MPSCQueue&) = delete;
    MPSCQueue& operator=(const MPSCQueue&) = delete;

    size_t capacity() const { return mask_ + 1; }

    // Any thread. False when full (the value is dropped).
    bool push(const T& value) {
        size_t position = tail_.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = cells_[position & mask_];
            const size_t sequence = cell.sequence.load(std::memory_order_acquire);
            const auto difference = static_cast<std::intptr_t>(sequence) - static_cast<std::intptr_t>(position);
            if (difference == 0) {
                if (tail_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                    cell.value = value;
                    cell.sequence.store(position + 1, std::memory_order_release);
                    return true;
                }
            } else if (difference < 0) {
                return false;
            } else {
                position = tail_.load(std::memory_order_relaxed);
            }
        }
    }

    // The consumer thread only. False when empty (or the oldest value is still being written).
    bool pop(T& out) {
        Cell& cell = cells_[head_ & mask_];
        if (cell.sequence.load(std::memory_order_acquire) != head_ + 1) return false;
        out = cell.value;
        cell.sequence.store(head_ + mask_ + 1, std::memory_order_release);
        ++head_;
        return true;
    }

private:
    struct Cell {
        std::atomic<size_t> sequence{0};
        T value{};
    };
    const size_t mask_;
    std::unique_ptr<Cell[]> cells_;
    alignas(64) std::atomic<size_t> tail_{0};
    alignas(64) size_t head_ = 0;
};

}  // namespace platform::detail
