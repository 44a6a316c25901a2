// The road of captured frames from the input device's thread to the engine's render thread, across
// the two devices' clocks. Lock-free and allocation-free after construction: one producer (the
// input device's thread), one consumer (the render).
#pragma once

#include "platform/avfaudio/detail/RenderContext.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace platform::detail {

// What the bridge did: cycles the ring ran dry (zeros given), times the input outran the ring
// (frames lost), frames dropped and repeated to absorb drift.
struct InputClockBridgeCounts {
    std::atomic<uint64_t> underruns{0};
    std::atomic<uint64_t> overflows{0};
    std::atomic<uint64_t> dropped{0};
    std::atomic<uint64_t> repeated{0};
};

// Captured frames on their way from the input device's thread to the engine's render thread: a
// single-producer ring per channel that bridges the two devices' clocks. The render reads nothing
// until the ring holds the stated latency; it gives zeros only when the ring runs dry (an underrun,
// after which it waits for the latency again). A slow drift between the two clocks is measured on
// the devices' own time stamps (how far the read position lags the input's clock at each output
// cycle) and absorbed one frame at a time, dropped or repeated where the signal changes least.
class InputClockBridge {
public:
    // Output cycles that set the lag the bridge keeps, and the weight of each later one in its average.
    static constexpr uint32_t kSettleCycles = 512;
    static constexpr double kAveraging = 1.0 / 1024;

    // `latency` input frames are held before the render reads; the input device delivers
    // `inputCycle` frames a cycle at `rate`.
    InputClockBridge(uint32_t channels, uint32_t latency, uint32_t inputCycle, double rate)
        : channels(channels), capacity(std::bit_ceil(std::max<size_t>(16384, 4 * (size_t(latency) + inputCycle)))),
          ring(capacity * channels, 0.0f), latency(latency), inputCycle(inputCycle), rate(rate),
          tolerance(std::max(32.0, inputCycle / 4.0)) {}

    // Input device thread: `frames` frames whose first one was captured at `hostTime`.
    void push(const AudioBufferList& from, AVAudioFrameCount frames, uint64_t hostTime) {
        const uint64_t w = written.load(std::memory_order_relaxed);
        // A full ring keeps what it has; the render notices the loss and starts over.
        if (w - read.load(std::memory_order_acquire) + frames > capacity) return;
        for (uint32_t c = 0; c < channels; ++c) {
            const float* data = static_cast<const float*>(from.mBuffers[c].mData);
            for (AVAudioFrameCount i = 0; i < frames; ++i) ring[c * capacity + ((w + i) & (capacity - 1))] = data[i];
        }
        setAnchor(w, hostTime);
        written.store(w + frames, std::memory_order_release);
    }

    // Render thread: `frames` frames for the output cycle that starts at `hostTime` (0: unknown).
    void pull(AudioBufferList& into, AVAudioFrameCount frames, uint64_t hostTime, InputClockBridgeCounts& counts) {
        const uint64_t w = written.load(std::memory_order_acquire);
        uint64_t r = read.load(std::memory_order_relaxed);
        if (w - r > capacity - inputCycle) {
            // The device outran the ring: what is there is stale or has a hole.
            if (primed) counts.overflows.fetch_add(1, std::memory_order_relaxed);
            r = w;
            primed = false;
        }
        if (!primed) {
            if (w - r < latency) {
                read.store(r, std::memory_order_release);
                return detail::zeroFill(into, 0, frames);
            }
            // Frames that came in since the last look are all played; a ring that filled while
            // nothing read it starts at the latency's worth of its newest frames.
            if (w - r > latency + latency / 2) r = w - latency;
            primed = true;
            measured = 0;
            pending = 0;
        }
        const uint64_t have = w - r;
        if (have < frames) {
            counts.underruns.fetch_add(1, std::memory_order_relaxed);
            copy(into, r, AVAudioFrameCount(have), 0, 0);
            detail::zeroFill(into, AVAudioFrameCount(have), frames);
            read.store(w, std::memory_order_release);
            primed = false;
            return;
        }
        const int adjust = driftAdjust(r, frames, hostTime, have);
        uint32_t at = 0;
        if (adjust != 0) {
            at = quietestFrame(r, frames, adjust);
            (adjust > 0 ? counts.dropped : counts.repeated).fetch_add(1, std::memory_order_relaxed);
        }
        copy(into, r, frames, adjust, at);
        read.store(r + frames + adjust, std::memory_order_release);
    }

    const uint32_t channels;
    const size_t capacity;  // frames per channel, a power of two: room for the latency four times over
    std::vector<float> ring;
    const uint32_t latency;
    const uint32_t inputCycle;
    const double rate;
    const double tolerance;  // frames of lag the drift may add or take before a frame goes or comes

private:
    float sample(uint32_t c, uint64_t frame) const { return ring[c * capacity + (frame & (capacity - 1))]; }

    // Frames from `r` on into `into`; with `adjust` +1 the frame after `at` is skipped, with -1
    // the frame at `at` is given twice.
    void copy(AudioBufferList& into, uint64_t r, AVAudioFrameCount frames, int adjust, uint32_t at) const {
        for (uint32_t c = 0; c < into.mNumberBuffers; ++c) {
            float* out = detail::channel(into, c);
            if (c >= channels) {
                std::fill_n(out, frames, 0.0f);
                continue;
            }
            for (AVAudioFrameCount i = 0; i < frames; ++i) {
                const int shift = (adjust > 0 && i > at) ? 1 : (adjust < 0 && i > at) ? -1 : 0;
                out[i] = sample(c, r + i + shift);
            }
        }
    }

    // Where a dropped (+1) or repeated (-1) frame makes the smallest step.
    uint32_t quietestFrame(uint64_t r, AVAudioFrameCount frames, int adjust) const {
        uint32_t best = 0;
        float bestStep = INFINITY;
        for (uint32_t i = 0; i + 2 < frames; ++i) {
            float step = 0;
            for (uint32_t c = 0; c < channels; ++c)
                step += adjust > 0 ? std::fabs(sample(c, r + i + 2) - sample(c, r + i))
                                   : std::fabs(sample(c, r + i + 1) - sample(c, r + i));
            if (step < bestStep) {
                bestStep = step;
                best = i;
            }
        }
        return best;
    }

    // +1 to drop a frame, -1 to repeat one, 0 to read as it comes. The lag of the read position
    // behind the input's clock, taken at the first pull of each output cycle, is steady on average
    // while both devices run at their stated rates (a converter pulls in uneven pieces, so single
    // cycles vary); its average over the first cycles after priming is the lag kept.
    int driftAdjust(uint64_t r, AVAudioFrameCount frames, uint64_t hostTime, uint64_t have) {
        uint64_t anchorAt = 0, anchorTime = 0;
        if (hostTime != 0 && hostTime != measuredCycle && anchor(anchorAt, anchorTime)) {
            measuredCycle = hostTime;
            const double lag = double(int64_t(hostTime - anchorTime)) * rate * 1e-9 + double(int64_t(anchorAt - r));
            if (measured < kSettleCycles) {
                average = (average * measured + lag) / (measured + 1);
                if (++measured == kSettleCycles) target = average;
            } else {
                average += (lag - average) * kAveraging;
                if (average > target + tolerance) pending = 1;
                else if (average < target - tolerance) pending = -1;
            }
        }
        if (pending == 0 || frames < 3 || (pending > 0 && have <= frames)) return 0;
        const int adjust = pending;
        pending = 0;
        // The frame taken or given changes the lag at once.
        average -= adjust;
        return adjust;
    }

    // The input's clock: the ring frame `frame` was captured at host time `time`. A sequence
    // count lets the render read the pair without a lock.
    void setAnchor(uint64_t frame, uint64_t time) {
        const uint32_t s = anchorSequence.load(std::memory_order_relaxed);
        anchorSequence.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        anchorFrame.store(frame, std::memory_order_relaxed);
        anchorTime.store(time, std::memory_order_relaxed);
        anchorSequence.store(s + 2, std::memory_order_release);
    }
    bool anchor(uint64_t& frame, uint64_t& time) const {
        for (int tries = 0; tries < 4; ++tries) {
            const uint32_t s = anchorSequence.load(std::memory_order_acquire);
            if (s & 1) continue;
            frame = anchorFrame.load(std::memory_order_relaxed);
            time = anchorTime.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (anchorSequence.load(std::memory_order_relaxed) == s) return s != 0 && time != 0;
        }
        return false;
    }

    // Render thread only.
    bool primed = false;
    uint32_t measured = 0;
    uint64_t measuredCycle = 0;
    int pending = 0;
    double target = 0;
    double average = 0;

    alignas(64) std::atomic<uint64_t> written{0};
    alignas(64) std::atomic<uint64_t> read{0};
    std::atomic<uint32_t> anchorSequence{0};
    std::atomic<uint64_t> anchorFrame{0};
    std::atomic<uint64_t> anchorTime{0};
};

}  // namespace platform::detail
