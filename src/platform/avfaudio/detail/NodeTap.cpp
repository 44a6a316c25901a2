#include "platform/avfaudio/detail/NodeTap.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace platform::detail {

namespace {
size_t ringFramesFor(AVAudioFrameCount bufferSize) {
    const size_t wanted = std::max<size_t>(size_t(bufferSize) * 8, 16384);
    return std::bit_ceil(wanted);
}
}  // namespace

NodeTap::NodeTap(AVAudioFrameCount bufferSize, const AVAudioFormat& format, AVAudioNodeTapBlock block)
    : bufferSize_(bufferSize), format_(format), block_(std::move(block)), channels_(format.channelCount()),
      capacity_(ringFramesFor(bufferSize)), ring_(capacity_ * channels_, 0.0f) {}

void NodeTap::write(const AudioBufferList& list, AVAudioFrameCount frames, int64_t sampleTime, uint64_t hostTime,
                    bool hostTimeValid) {
    if (frames == 0 || isDead()) return;
    const uint64_t w = written_.load(std::memory_order_relaxed);
    const uint64_t r = read_.load(std::memory_order_acquire);
    if (w - r + frames > capacity_) {
        overflows_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (w == 0) {
        firstSampleTime_ = sampleTime;
        firstHostTime_ = hostTime;
        hostTimeValid_ = hostTimeValid;
    }
    const size_t at = size_t(w & (capacity_ - 1));
    const size_t first = std::min<size_t>(frames, capacity_ - at);
    for (uint32_t c = 0; c < channels_; ++c) {
        float* ring = ring_.data() + size_t(c) * capacity_;
        const float* data = c < list.mNumberBuffers ? static_cast<const float*>(list.mBuffers[c].mData) : nullptr;
        if (data) {
            std::memcpy(ring + at, data, first * sizeof(float));
            std::memcpy(ring, data + first, (frames - first) * sizeof(float));
        } else {
            std::memset(ring + at, 0, first * sizeof(float));
            std::memset(ring, 0, (frames - first) * sizeof(float));
        }
    }
    written_.store(w + frames, std::memory_order_release);
}

void NodeTap::deliver() {
    for (;;) {
        if (isDead()) return;
        const uint64_t w = written_.load(std::memory_order_acquire);
        const uint64_t r = read_.load(std::memory_order_relaxed);
        if (w - r < bufferSize_) return;
        deliverFrames(r, bufferSize_);
    }
}

void NodeTap::deliverRemainder() {
    if (isDead()) return;
    const uint64_t w = written_.load(std::memory_order_acquire);
    const uint64_t r = read_.load(std::memory_order_relaxed);
    if (w > r && w - r < bufferSize_) deliverFrames(r, AVAudioFrameCount(w - r));
}

void NodeTap::deliverFrames(uint64_t r, AVAudioFrameCount frames) {
    {
        auto buffer = AVAudioPCMBuffer::make(format_, frames);
        if (!buffer) return;
        const size_t at = size_t(r & (capacity_ - 1));
        const size_t first = std::min<size_t>(frames, capacity_ - at);
        for (uint32_t c = 0; c < channels_; ++c) {
            const float* ring = ring_.data() + size_t(c) * capacity_;
            float* out = buffer->floatChannelData()[c];
            std::memcpy(out, ring + at, first * sizeof(float));
            std::memcpy(out + first, ring, (frames - first) * sizeof(float));
        }
        buffer->setFrameLength(frames);
        read_.store(r + frames, std::memory_order_release);
        const double rate = format_.sampleRate();
        const int64_t sampleTime = firstSampleTime_ + int64_t(r);
        const AVAudioTime when = hostTimeValid_
                                     ? AVAudioTime(firstHostTime_ + uint64_t(std::llround(double(r) * 1e9 / rate)), sampleTime, rate)
                                     : AVAudioTime(sampleTime, rate);
        if (block_) block_(buffer, when);
    }
}

TapQueue::TapQueue() {
    sem_init(&wake_, 0, 0);
    thread_ = std::thread([this] { run(); });
}

TapQueue::~TapQueue() {
    quit_.store(true);
    sem_post(&wake_);
    thread_.join();
    sem_destroy(&wake_);
}

void TapQueue::add(const std::shared_ptr<NodeTap>& tap) {
    std::lock_guard lock(listMutex_);
    taps_.push_back(tap);
}

namespace {
// True on a thread that is inside a tap's block.
thread_local bool delivering = false;
}  // namespace

void TapQueue::retire(NodeTap* tap) {
    if (!tap) return;
    if (!delivering) {
        std::lock_guard drainLock(drainMutex_);
        delivering = true;
        tap->deliver();
        tap->deliverRemainder();
        delivering = false;
    }
    tap->markDead();
    std::lock_guard lock(listMutex_);
    auto it = std::find_if(taps_.begin(), taps_.end(), [&](const auto& t) { return t.get() == tap; });
    if (it == taps_.end()) return;
    Retired retired{std::move(*it), {}};
    taps_.erase(it);
    for (int p = 0; p < kProducers; ++p) retired.epochs[p] = epochs_[p].load(std::memory_order_seq_cst);
    retired_.push_back(std::move(retired));
}

void TapQueue::notify() {
    if (!pending_.exchange(true, std::memory_order_acq_rel)) sem_post(&wake_);
}

void TapQueue::drain() {
    std::lock_guard drainLock(drainMutex_);
    std::vector<std::shared_ptr<NodeTap>> taps;
    {
        std::lock_guard lock(listMutex_);
        taps = taps_;
    }
    const bool outer = !delivering;
    delivering = true;
    for (const auto& tap : taps) tap->deliver();
    delivering = !outer;
    freeRetired();
}

void TapQueue::freeRetired() {
    std::vector<std::shared_ptr<NodeTap>> freed;  // released outside the lock
    std::lock_guard lock(listMutex_);
    std::erase_if(retired_, [&](Retired& r) {
        for (int p = 0; p < kProducers; ++p) {
            const uint64_t now = epochs_[p].load(std::memory_order_seq_cst);
            // Inside a cycle that began before the tap was retired: it may still be writing.
            if ((r.epochs[p] & 1) && now == r.epochs[p]) return false;
        }
        freed.push_back(std::move(r.tap));
        return true;
    });
}

void TapQueue::run() {
    while (!quit_.load()) {
        if (sem_wait(&wake_) != 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (quit_.load()) return;
        pending_.store(false, std::memory_order_release);
        drain();
    }
}

}  // namespace platform::detail
