#include "platform/avfaudio/RenderThreadMark.h"

#include <atomic>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace platform {

namespace detail {
constinit thread_local RenderThreadState renderThreadState;
}

namespace {

std::atomic<bool> flushDenormals{true};

#if defined(__x86_64__) || defined(__i386__)
constexpr unsigned long long kFlushBits = 0x8040;  // MXCSR: flush to zero (bit 15), denormals are zero (bit 6)
unsigned long long readControl() { return _mm_getcsr(); }
void writeControl(unsigned long long value) { _mm_setcsr(unsigned(value)); }
#elif defined(__aarch64__)
constexpr unsigned long long kFlushBits = 1ull << 24;  // FPCR.FZ flushes denormal inputs and results
unsigned long long readControl() {
    uint64_t value;
    asm volatile("mrs %0, fpcr" : "=r"(value));
    return value;
}
void writeControl(unsigned long long value) { asm volatile("msr fpcr, %0" : : "r"(uint64_t(value))); }
#else
constexpr unsigned long long kFlushBits = 0;
unsigned long long readControl() { return 0; }
void writeControl(unsigned long long) {}
#endif

}  // namespace

FlushDenormalsScope::FlushDenormalsScope() {
    if (kFlushBits == 0 || !flushDenormals.load(std::memory_order_relaxed)) return;
    saved_ = readControl();
    if ((saved_ & kFlushBits) == kFlushBits) return;
    writeControl(saved_ | kFlushBits);
    changed_ = true;
}

FlushDenormalsScope::~FlushDenormalsScope() {
    // Only the flush bits go back: exception flags the render raised stay as they are.
    if (changed_) writeControl((readControl() & ~kFlushBits) | (saved_ & kFlushBits));
}

void FlushDenormalsScope::setEnabled(bool enabled) { flushDenormals.store(enabled, std::memory_order_relaxed); }

bool FlushDenormalsScope::isEnabled() { return flushDenormals.load(std::memory_order_relaxed); }

}  // namespace platform
