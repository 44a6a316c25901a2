// Counts the calls the render thread must never make (allocations, frees, locks, waits, system
// calls) while the engine's render-thread mark is set. The executable that links
// RenderCallCounter.cpp replaces malloc & co. for itself and every shared library it loads, so
// calls made inside libstdc++, soxr or FFTW count too.
#pragma once

#include <cstdint>

namespace rtcheck {

enum class CallKind { allocation, free, lock, wait, syscall };
inline constexpr int kCallKindCount = 5;

// Counting happens only while armed (any thread may arm or disarm).
void arm();
void disarm();

uint64_t count(CallKind kind);
uint64_t total();

// The first counted call: its function, the node being rendered (null where unknown) and its stack.
struct FirstCall {
    const char* function = nullptr;
    const void* node = nullptr;
    void* const* frames = nullptr;
    int depth = 0;
};
FirstCall firstCall();

}  // namespace rtcheck
