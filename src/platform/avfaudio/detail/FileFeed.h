// The frames of one scheduled file segment on their way to a player: a reader of its own on the
// file's URL converts them into the player's output format and writes them into a ring that the
// render thread reads. In real time the engine's reader thread keeps the ring filled; offline the
// render fills it on the caller's thread, so no frame is ever dropped there.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/detail/RenderContext.h"
#include "platform/foundation/URL.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
class AVAudioFile;
}

namespace platform::detail {

class PCMConverter;

class FileFeed {
public:
    // Opens the file again on its URL. Throws NSErrorException when it cannot be read.
    FileFeed(const URL& url, AVAudioFramePosition startingFrame, AVAudioFrameCount frameCount,
             const AVAudioFormat& outputFormat, AVAudioFrameCount ringFrames);
    ~FileFeed();

    // Output frames the segment gives (its length at the output rate).
    int64_t totalFrames() const { return total_; }
    bool converts() const { return converter_ != nullptr; }

    // Producer (reader thread, or the offline render): adds up to `atMost` frames; returns them.
    size_t fill(size_t atMost = SIZE_MAX);
    bool isFilled() const { return written_.load(std::memory_order_acquire) >= total_; }

    // Consumer (render thread): copies the next `frames` frames into `out` from frame `offset`;
    // frames not there yet are silence (real time only). Returns the frames that were there.
    size_t read(AudioBufferList& out, AVAudioFrameCount offset, AVAudioFrameCount frames);
    // Consumer: passes over the next `frames` frames unread (the reader still produces them).
    void skip(int64_t frames) { consumed_.fetch_add(frames, std::memory_order_release); }
    // Frames ready for the consumer.
    int64_t available() const {
        return written_.load(std::memory_order_acquire) - consumed_.load(std::memory_order_relaxed);
    }
    // Render thread: the segment's frames before `frames` are all consumed.
    int64_t consumed() const { return consumed_.load(std::memory_order_relaxed); }

private:
    size_t produce(float* const* channels, size_t frames);

    std::shared_ptr<AVAudioFile> file_;
    AVAudioFormat outputFormat_;
    uint32_t channels_;
    int64_t segmentEnd_ = 0;   // file frame after the segment
    int64_t total_ = 0;
    size_t capacity_;
    std::vector<float> ring_;  // channel-major, capacity_ frames each
    std::vector<float*> chunkPtrs_;  // where fill() has produce() write, one per channel

    std::mutex fillMutex_;
    std::unique_ptr<PCMConverter> converter_;
    std::shared_ptr<AVAudioPCMBuffer> fileChunk_;
    std::shared_ptr<AVAudioPCMBuffer> outChunk_;
    std::shared_ptr<AVAudioPCMBuffer> wrapChunk_;
    bool inputEnded_ = false;
    bool flushed_ = false;

    alignas(64) std::atomic<int64_t> written_{0};
    alignas(64) std::atomic<int64_t> consumed_{0};
};

// The thread that keeps the feeds of an engine's players filled while it renders in real time.
class FileFeedReader {
public:
    FileFeedReader() = default;
    ~FileFeedReader();
    void add(const std::shared_ptr<FileFeed>& feed);
    void start();
    void stop();  // joins
    // Offline: tops up every feed's ring on the caller's thread, before a render reads them.
    void fillNow();

private:
    void run();
    // The feeds still to fill, taken under the mutex; finished and released ones are forgotten.
    void collect(std::vector<std::shared_ptr<FileFeed>>& feeds);
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::weak_ptr<FileFeed>> feeds_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace platform::detail
