// The mixing properties of a node that feeds a mixer: the gain and the stereo position the
// destination mixer applies to it. Changes take effect at the next render cycle.
#pragma once

#include <atomic>
#include <cmath>

namespace platform {

class AVAudioMixing {
public:
    virtual ~AVAudioMixing() = default;

    // Linear gain, not limited above (2.0 doubles the level); negative or not-a-number counts as 0.
    float volume() const { return volume_.load(std::memory_order_relaxed); }
    void setVolume(float volume) { volume_.store(sanitizedGain(volume), std::memory_order_relaxed); }

    // −1 (left) … +1 (right), balance law: the centre leaves both channels untouched.
    float pan() const { return pan_.load(std::memory_order_relaxed); }
    void setPan(float pan) {
        pan_.store(std::isfinite(pan) ? std::fmax(-1.0f, std::fmin(1.0f, pan)) : 0.0f, std::memory_order_relaxed);
    }

    static float sanitizedGain(float gain) { return std::isfinite(gain) && gain > 0 ? gain : 0.0f; }

private:
    std::atomic<float> volume_{1.0f};
    std::atomic<float> pan_{0.0f};
};

}  // namespace platform
