#include "platform/avfaudio/detail/FileFeed.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/OSLog.h"
#include "platform/media/BufferListView.h"
#include "platform/media/PCMConverter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace platform::detail {

namespace {
constexpr AVAudioFrameCount kChunk = 4096;
}

FileFeed::FileFeed(const URL& url, AVAudioFramePosition startingFrame, AVAudioFrameCount frameCount,
                   const AVAudioFormat& outputFormat, AVAudioFrameCount ringFrames)
    : file_(AVAudioFile::forReading(url)),
      outputFormat_(outputFormat),
      channels_(outputFormat.channelCount()),
      capacity_(std::max<AVAudioFrameCount>(ringFrames, kChunk)) {
    const int64_t length = file_->length();
    const int64_t start = std::clamp<int64_t>(startingFrame, 0, length);
    segmentEnd_ = std::min<int64_t>(length, start + int64_t(frameCount));
    const int64_t inputFrames = segmentEnd_ - start;
    const AVAudioFormat& inFormat = file_->processingFormat();
    if (inputFrames > 0) file_->setFramePosition(start);
    if (inFormat.sampleRate() != outputFormat.sampleRate() || inFormat.channelCount() != outputFormat.channelCount()) {
        converter_ = std::make_unique<PCMConverter>(inFormat, outputFormat, kChunk);
        total_ = int64_t(std::llround(double(inputFrames) * outputFormat.sampleRate() / inFormat.sampleRate()));
    } else {
        total_ = inputFrames;
    }
    fileChunk_ = AVAudioPCMBuffer::make(inFormat, kChunk);
    outChunk_ = AVAudioPCMBuffer::make(outputFormat, kChunk);
    wrapChunk_ = AVAudioPCMBuffer::make(outputFormat, kChunk);
    ring_.assign(capacity_ * channels_, 0.0f);
    chunkPtrs_.assign(channels_, nullptr);
}

FileFeed::~FileFeed() = default;

size_t FileFeed::produce(float* const* channels, size_t frames) {
    // Exactly `frames` output frames: file frames (converted), then the converter's tail, then
    // silence should the converter give fewer than the segment's length at the output rate.
    if (!converter_) {
        const int64_t left = segmentEnd_ - file_->framePosition();
        size_t got = 0;
        if (left > 0) {
            file_->read(*fileChunk_, AVAudioFrameCount(std::min<int64_t>(left, int64_t(frames))));
            got = fileChunk_->frameLength();
            for (uint32_t c = 0; c < channels_; ++c)
                std::memcpy(channels[c], fileChunk_->floatChannelData()[c], got * sizeof(float));
        }
        for (uint32_t c = 0; c < channels_; ++c) std::fill(channels[c] + got, channels[c] + frames, 0.0f);
        return frames;
    }
    AudioBufferList* out = outChunk_->mutableAudioBufferList();
    size_t got = 0;
    if (!inputEnded_) {
        auto input = [this](size_t want, const AudioBufferList*& data) -> size_t {
            const int64_t left = segmentEnd_ - file_->framePosition();
            if (left <= 0) return 0;
            file_->read(*fileChunk_, AVAudioFrameCount(std::min<int64_t>({left, int64_t(want), int64_t(kChunk)})));
            data = fileChunk_->audioBufferList();
            return fileChunk_->frameLength();
        };
        got = converter_->convert(out, frames, input);
        if (got < frames) inputEnded_ = true;
    }
    BufferListView rest;
    while (inputEnded_ && !flushed_ && got < frames) {
        // Flush into the rest of the chunk.
        rest.point(*out, sizeof(float), got, kChunk - got);
        const size_t tail = converter_->flush(rest.list(), frames - got);
        if (tail == 0) flushed_ = true;
        got += tail;
    }
    for (uint32_t c = 0; c < channels_; ++c) {
        std::memcpy(channels[c], outChunk_->floatChannelData()[c], got * sizeof(float));
        std::fill(channels[c] + got, channels[c] + frames, 0.0f);
    }
    return frames;
}

size_t FileFeed::fill(size_t atMost) {
    std::lock_guard lock(fillMutex_);
    size_t added = 0;
    // One pointer per output channel, whatever their number.
    float* const* chunk = chunkPtrs_.data();
    const uint32_t channels = channels_;
    while (added < atMost) {
        const int64_t w = written_.load(std::memory_order_relaxed);
        const int64_t r = consumed_.load(std::memory_order_acquire);
        if (w >= total_) break;
        const int64_t space = int64_t(capacity_) - std::max<int64_t>(0, w - r);
        const int64_t n = std::min<int64_t>({space, int64_t(kChunk), total_ - w, int64_t(std::min<size_t>(atMost - added, kChunk))});
        if (n <= 0) break;
        // Write straight into the ring when the chunk does not wrap; else through the out chunk.
        const size_t at = size_t(w % int64_t(capacity_));
        const bool wraps = at + size_t(n) > capacity_;
        try {
            if (!wraps) {
                for (uint32_t c = 0; c < channels; ++c) chunkPtrs_[c] = ring_.data() + c * capacity_ + at;
                produce(chunk, size_t(n));
            } else {
                for (uint32_t c = 0; c < channels; ++c) chunkPtrs_[c] = wrapChunk_->floatChannelData()[c];
                produce(chunk, size_t(n));
                const size_t first = capacity_ - at;
                for (uint32_t c = 0; c < channels; ++c) {
                    std::memcpy(ring_.data() + c * capacity_ + at, chunk[c], first * sizeof(float));
                    std::memcpy(ring_.data() + c * capacity_, chunk[c] + first, (size_t(n) - first) * sizeof(float));
                }
            }
        } catch (const std::exception& e) {
            // A damaged file ends the segment early with silence rather than stalling the player.
            os_log(OSLog{"platform", "AVAudioPlayerNode"}, OSLogType::error,
                   std::string("reading a scheduled file failed: ") + e.what());
            segmentEnd_ = file_->framePosition();
            inputEnded_ = flushed_ = true;
            continue;
        }
        written_.store(w + n, std::memory_order_release);
        added += size_t(n);
    }
    return added;
}

size_t FileFeed::read(AudioBufferList& out, AVAudioFrameCount offset, AVAudioFrameCount frames) {
    const int64_t r = consumed_.load(std::memory_order_relaxed);
    const int64_t w = written_.load(std::memory_order_acquire);
    const size_t have = size_t(std::clamp<int64_t>(w - r, 0, frames));
    const uint32_t channels = std::min(out.mNumberBuffers, channels_);
    const size_t at = size_t(r % int64_t(capacity_));
    const size_t first = std::min(have, capacity_ - at);
    for (uint32_t c = 0; c < channels; ++c) {
        float* dst = channel(out, c) + offset;
        const float* src = ring_.data() + c * capacity_;
        std::memcpy(dst, src + at, first * sizeof(float));
        std::memcpy(dst + first, src, (have - first) * sizeof(float));
        std::fill(dst + have, dst + frames, 0.0f);
    }
    for (uint32_t c = channels; c < out.mNumberBuffers; ++c) std::fill(channel(out, c) + offset, channel(out, c) + offset + frames, 0.0f);
    consumed_.store(r + frames, std::memory_order_release);
    return have;
}

FileFeedReader::~FileFeedReader() { stop(); }

void FileFeedReader::add(const std::shared_ptr<FileFeed>& feed) {
    std::lock_guard lock(mutex_);
    feeds_.push_back(feed);
    wake_.notify_one();
}

void FileFeedReader::start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return;
    quit_ = false;
    thread_ = std::thread([this] { run(); });
}

void FileFeedReader::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        quit_ = true;
        wake_.notify_one();
    }
    thread_.join();
}

void FileFeedReader::collect(std::vector<std::shared_ptr<FileFeed>>& feeds) {
    feeds.clear();
    std::erase_if(feeds_, [&](const std::weak_ptr<FileFeed>& weak) {
        auto feed = weak.lock();
        if (!feed || feed->isFilled()) return true;
        feeds.push_back(std::move(feed));
        return false;
    });
}

void FileFeedReader::fillNow() {
    std::vector<std::shared_ptr<FileFeed>> feeds;
    {
        std::lock_guard lock(mutex_);
        collect(feeds);
    }
    for (auto& feed : feeds) feed->fill();
}

void FileFeedReader::run() {
    using namespace std::chrono_literals;
    std::vector<std::shared_ptr<FileFeed>> feeds;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (quit_) return;
            collect(feeds);
        }
        size_t added = 0;
        for (auto& feed : feeds) added += feed->fill();
        feeds.clear();  // released here, not on the render thread
        std::unique_lock lock(mutex_);
        if (quit_) return;
        wake_.wait_for(lock, added ? 1ms : 4ms);
    }
}

}  // namespace platform::detail
