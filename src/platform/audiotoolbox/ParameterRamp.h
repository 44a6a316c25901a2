// A parameter value that render threads move linearly towards a target. Other threads write
// `target` and then bump `changeCount` (release); the render thread loads `changeCount` first
// (acquire) and glides to the new target. A ramp of R frames started at value v0 gives
// v0 + (v1 − v0)·k/R at its k-th frame.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// How long a plain set glides while a unit renders: the single-precision 0.02 s widened (881
// frames at 44.1 kHz).
inline constexpr double kParameterGlideSeconds = double(0.02f);

struct ParameterRampSlot {
    std::atomic<float> target{0};
    float goal = 0;
    float increment = 0;
    uint32_t remaining = 0;
    std::atomic<uint32_t> changeCount{0};
    uint32_t seenCount = 0;

    explicit ParameterRampSlot(float value = 0) : target(value), goal(value) {}

    // The value for the next frame.
    float value() const { return goal + float(remaining) * increment; }
    // Moves one frame on.
    void step() {
        if (remaining > 0) --remaining;
    }
    // Moves `frames` frames on.
    void skip(uint32_t frames) { remaining = remaining > frames ? remaining - frames : 0; }
    float next() {
        const float v = value();
        step();
        return v;
    }
    bool ramping() const { return remaining > 0; }

    // From the current value to `to` over `durationFrames` (0: at once).
    void startRamp(uint32_t durationFrames, float to) {
        if (durationFrames > 0) {
            increment = (float(remaining) * increment + goal - to) / float(durationFrames);
            remaining = durationFrames;
        } else {
            increment = 0;
            remaining = 0;
        }
        target.store(to, std::memory_order_relaxed);
        goal = to;
    }
    // At `to` now, with no ramp (the render thread, or nobody rendering).
    void jump(float to) { startRamp(0, to); }

    // Another thread's set, for the render thread to glide to.
    void post(float to) {
        target.store(to, std::memory_order_relaxed);
        changeCount.fetch_add(1, std::memory_order_release);
    }
    // Render thread: starts the glide to a posted target; true when there was one.
    bool takePosted(uint32_t glideFrames) {
        const uint32_t count = changeCount.load(std::memory_order_acquire);
        if (count == seenCount) return false;
        seenCount = count;
        startRamp(glideFrames, target.load(std::memory_order_relaxed));
        return true;
    }
};

}  // namespace platform
