// Taps: what a node renders on a tapped bus, carried from the render thread to the engine's tap
// thread and cut there into buffers of the tap's size.
//
// The render thread copies each rendered slice into the tap's preallocated ring (one producer,
// no lock, no allocation) and wakes the tap thread with a semaphore post that never blocks. The
// tap thread (or, offline, the caller of renderOffline at the end of each call) cuts every
// complete buffer out of the ring into a new AVAudioPCMBuffer and calls the tap's block.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioTime.h"

#include <semaphore.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// The block a tap calls with each buffer (capacity = frameLength = the tap's buffer size) and the
// time of its first frame.
using AVAudioNodeTapBlock = std::function<void(const std::shared_ptr<AVAudioPCMBuffer>& buffer, const AVAudioTime& when)>;

namespace detail {

class NodeTap {
public:
    NodeTap(AVAudioFrameCount bufferSize, const AVAudioFormat& format, AVAudioNodeTapBlock block);

    // Render thread (one producer at a time): appends `frames` frames of `list`; channels the list
    // lacks are silent. When the ring has no room the slice is dropped and counted.
    void write(const AudioBufferList& list, AVAudioFrameCount frames, int64_t sampleTime, uint64_t hostTime,
               bool hostTimeValid);

    // Consumer (under the queue's drain lock): hands every complete buffer to the block.
    void deliver();
    // Consumer: hands what is left (fewer frames than bufferSize) as one shorter buffer.
    void deliverRemainder();

    AVAudioFrameCount bufferSize() const { return bufferSize_; }
    AVAudioFrameCount ringFrames() const { return AVAudioFrameCount(capacity_); }
    uint64_t overflows() const { return overflows_.load(std::memory_order_relaxed); }
    bool isDead() const { return dead_.load(std::memory_order_acquire); }
    void markDead() { dead_.store(true, std::memory_order_release); }

private:
    void deliverFrames(uint64_t r, AVAudioFrameCount frames);
    const AVAudioFrameCount bufferSize_;
    const AVAudioFormat format_;
    const AVAudioNodeTapBlock block_;
    const uint32_t channels_;
    const size_t capacity_;  // frames per channel, a power of two
    std::vector<float> ring_;
    alignas(64) std::atomic<uint64_t> written_{0};
    alignas(64) std::atomic<uint64_t> read_{0};
    std::atomic<uint64_t> overflows_{0};
    std::atomic<bool> dead_{false};
    // Set by the producer before its first frames are published.
    int64_t firstSampleTime_ = 0;
    uint64_t firstHostTime_ = 0;
    bool hostTimeValid_ = false;
};

// The taps of one engine and its tap thread.
class TapQueue {
public:
    // Producers: 0 is the engine's render, 1 the input device's cycle.
    static constexpr int kProducers = 2;

    TapQueue();
    ~TapQueue();  // joins the tap thread
    TapQueue(const TapQueue&) = delete;
    TapQueue& operator=(const TapQueue&) = delete;

    void add(const std::shared_ptr<NodeTap>& tap);
    // Marks the tap dead and frees it once no render can still be writing it. Called outside any
    // tap's block, it first delivers what the ring holds, on the calling thread, the last frames as
    // a shorter buffer: removing a tap loses nothing it captured. From inside a block (the tap
    // thread, or an offline drain) it never waits, so a tap's own block may remove it.
    void retire(NodeTap* tap);

    // Render thread: brackets a cycle of that producer, so retired taps are freed only after it.
    void beginRender(int producer) { epochs_[producer].fetch_add(1, std::memory_order_seq_cst); }
    void endRender(int producer) { epochs_[producer].fetch_add(1, std::memory_order_seq_cst); }
    // Render thread: wakes the tap thread (once per batch; never blocks).
    void notify();

    // Delivers what the rings hold on the calling thread (the offline render's caller).
    void drain();
    bool isTapThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();
    void freeRetired();

    struct Retired {
        std::shared_ptr<NodeTap> tap;
        uint64_t epochs[kProducers];
    };
    std::mutex listMutex_;   // taps_ and retired_
    std::mutex drainMutex_;  // one consumer at a time
    std::vector<std::shared_ptr<NodeTap>> taps_;
    std::vector<Retired> retired_;
    std::atomic<uint64_t> epochs_[kProducers]{};
    std::atomic<bool> pending_{false};
    std::atomic<bool> quit_{false};
    sem_t wake_;
    std::thread thread_;
};

}  // namespace detail
}  // namespace platform
