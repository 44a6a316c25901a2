#include "platform/avfaudio/AVAudioPlayerNode.h"

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/detail/CompletionQueue.h"
#include "platform/avfaudio/detail/FileFeed.h"
#include "platform/avfaudio/detail/SPSCRing.h"
#include "platform/foundation/OSLog.h"
#include "platform/media/BufferListView.h"
#include "platform/media/PCMConverter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>

namespace platform {

namespace {

void log(OSLogType type, const std::string& message) { os_log(OSLog{"platform", "AVAudioPlayerNode"}, type, message); }

constexpr size_t kMaximumPending = 1000;
constexpr AVAudioFrameCount kRingFrames = 32768;
constexpr AVAudioFrameCount kPrefillFrames = 8192;
// nextItemStart while no item has played since the player was created or stopped: an item given a
// time before the player's start is then as late as that time says.
constexpr int64_t kNoItemBefore = INT64_MIN;

bool sameLayout(const AVAudioFormat& a, const AVAudioFormat& b) {
    return a.isStandard() && b.isStandard() && a.sampleRate() == b.sampleRate() && a.channelCount() == b.channelCount();
}

// A buffer in another format, converted to the player's output format at the same duration.
std::shared_ptr<AVAudioPCMBuffer> convertBuffer(const AVAudioPCMBuffer& in, const AVAudioFormat& out) {
    const AVAudioFrameCount frames = in.frameLength();
    const auto length = AVAudioFrameCount(std::llround(double(frames) * out.sampleRate() / in.format().sampleRate()));
    detail::PCMConverter converter(in.format(), out, std::max<AVAudioFrameCount>(frames, 1));
    if (!converter.isValid()) return nullptr;
    auto result = AVAudioPCMBuffer::make(out, std::max<AVAudioFrameCount>(length, 1) + 64);
    if (!result) return nullptr;
    AudioBufferList* list = result->mutableAudioBufferList();
    size_t got = frames ? converter.convert(in.audioBufferList(), frames, list, result->frameCapacity()) : 0;
    detail::BufferListView rest;
    while (got < result->frameCapacity()) {
        rest.point(*list, sizeof(float), got, result->frameCapacity() - got);
        const size_t tail = converter.flush(rest.list(), result->frameCapacity() - got);
        if (tail == 0) break;
        got += tail;
    }
    result->setFrameLength(length);  // fresh storage is silent past what the converter gave
    return result;
}

}  // namespace

struct AVAudioPlayerNode::Item {
    uint64_t id = 0;
    std::shared_ptr<AVAudioPCMBuffer> buffer;  // in the output format
    std::shared_ptr<detail::FileFeed> feed;
    int64_t length = 0;                        // output frames
    std::optional<AVAudioTime> when;
    AVAudioPlayerNodeBufferOptions options = 0;
    AVAudioPlayerNodeCompletionCallbackType callbackType = AVAudioPlayerNodeCompletionCallbackType::dataConsumed;
    AVAudioPlayerNodeCompletionHandler handler;
    bool claimed = false;  // its handler ran or will never run (under Shared::mutex)

    // Render thread.
    bool started = false;
    int64_t startPlayerTime = 0;
    int64_t position = 0;
    bool endAtLoop = false;
    std::atomic<bool> released{false};  // the render thread no longer refers to it
};

struct AVAudioPlayerNode::Shared final : detail::CompletionTarget {
    struct Command {
        enum Kind { none, schedule, play, pause, stop } kind = none;
        Item* item = nullptr;
        std::optional<AVAudioTime> when;
    };

    // Main and callback threads.
    std::mutex mutex;
    std::deque<std::shared_ptr<Item>> pending;
    std::vector<std::shared_ptr<Item>> graveyard;
    uint64_t nextID = 1;
    std::atomic<bool> playing{false};

    // Commands to the render thread; producers serialise on sendMutex.
    std::mutex sendMutex;
    detail::SPSCRing<Command> commands{4096};

    // Render thread only.
    std::array<Item*, kMaximumPending + 64> queue{};
    size_t queueHead = 0, queueCount = 0;
    bool renderPlaying = false;
    bool needsAnchor = false;  // resume from pausedPlayerTime on the next cycle
    int64_t startNodeTime = 0;
    int64_t pausedPlayerTime = 0;
    int64_t nextItemStart = kNoItemBefore;
    std::weak_ptr<detail::CompletionTarget> self;

    // Published by the render thread.
    std::atomic<bool> anchorValid{false};
    std::atomic<int64_t> anchorNodeTime{0};
    std::atomic<double> anchorRate{44100};

    void send(Command command) {
        std::lock_guard lock(sendMutex);
        if (!commands.push(std::move(command))) log(OSLogType::error, "the player's command queue is full; command dropped");
    }

    Item* front() { return queueCount ? queue[queueHead] : nullptr; }
    void popFront() {
        queueHead = (queueHead + 1) % queue.size();
        --queueCount;
    }

    void release(Item* item) { item->released.store(true, std::memory_order_release); }

    void finish(Item* item, const detail::RenderCycle& cycle, AVAudioFrameCount atFrame, double rate) {
        uint64_t due = 0;
        if (item->callbackType == AVAudioPlayerNodeCompletionCallbackType::dataPlayedBack && cycle.hostTimeValid)
            due = cycle.hostTime + uint64_t(double(atFrame) * 1e9 / rate);
        const uint64_t id = item->id;
        release(item);
        if (cycle.completions) cycle.completions->post(detail::CompletionNotice{self, id, due});
    }

    // Every queued item completes now.
    void finishAll(const detail::RenderCycle& cycle, double rate) {
        while (Item* item = front()) {
            popFront();
            finish(item, cycle, 0, rate);
        }
    }

    // Only while no render can run: applies a stop to the render state at once.
    void stopWithoutRender() {
        Command command;
        while (commands.pop(command))
            if (command.kind == Command::schedule) release(command.item);
        applyStop();
    }

    // A stop, on the render thread or while no render can run: the queued items go without
    // completing; not playing, at player time 0, no item before the next one.
    void applyStop() {
        while (Item* item = front()) {
            popFront();
            release(item);
        }
        renderPlaying = false;
        needsAnchor = false;
        pausedPlayerTime = 0;
        nextItemStart = kNoItemBefore;
        anchorValid.store(false);
    }

    void deliverCompletion(uint64_t itemID) override {
        std::shared_ptr<Item> item;
        {
            std::lock_guard lock(mutex);
            auto it = std::find_if(pending.begin(), pending.end(), [&](const auto& i) { return i->id == itemID; });
            if (it == pending.end() || (*it)->claimed) return;
            item = *it;
            item->claimed = true;
            pending.erase(it);
            graveyard.push_back(item);
        }
        if (item->handler) item->handler(item->callbackType);
    }

    void collectGarbage() {
        std::lock_guard lock(mutex);
        std::erase_if(graveyard, [](const auto& i) { return i->released.load(std::memory_order_acquire); });
    }
};

AVAudioPlayerNode::AVAudioPlayerNode() : AVAudioNode(0, 1), shared_(std::make_shared<Shared>()) {
    shared_->self = shared_;
}

AVAudioPlayerNode::~AVAudioPlayerNode() = default;

// ---------------------------------------------------------------------------------------------
// Scheduling (main thread, or a completion handler)

void AVAudioPlayerNode::schedule(std::shared_ptr<Item> item) {
    Item* raw = item.get();
    {
        std::lock_guard lock(shared_->mutex);
        item->id = shared_->nextID++;
        shared_->pending.push_back(std::move(item));
    }
    shared_->send({Shared::Command::schedule, raw, std::nullopt});
    shared_->collectGarbage();
}

namespace {
bool refuseScheduling(const AVAudioNode& node, size_t pendingCount) {
    if (!node.engine()) {
        log(OSLogType::error, "schedule: " + node.description() + " is not attached to an engine");
        return true;
    }
    if (pendingCount >= kMaximumPending) {
        log(OSLogType::error, "schedule: too many items are waiting on " + node.description());
        return true;
    }
    return false;
}
}  // namespace

void AVAudioPlayerNode::scheduleBuffer(const std::shared_ptr<AVAudioPCMBuffer>& buffer, AVAudioNodeCompletionHandler handler) {
    scheduleBuffer(buffer, std::nullopt, 0, std::move(handler));
}

void AVAudioPlayerNode::scheduleBuffer(const std::shared_ptr<AVAudioPCMBuffer>& buffer, const std::optional<AVAudioTime>& when,
                                       AVAudioPlayerNodeBufferOptions options, AVAudioNodeCompletionHandler handler) {
    AVAudioPlayerNodeCompletionHandler typed;
    if (handler) typed = [handler = std::move(handler)](AVAudioPlayerNodeCompletionCallbackType) { handler(); };
    scheduleBuffer(buffer, when, options, AVAudioPlayerNodeCompletionCallbackType::dataConsumed, std::move(typed));
}

void AVAudioPlayerNode::scheduleBuffer(const std::shared_ptr<AVAudioPCMBuffer>& buffer, const std::optional<AVAudioTime>& when,
                                       AVAudioPlayerNodeBufferOptions options,
                                       AVAudioPlayerNodeCompletionCallbackType callbackType,
                                       AVAudioPlayerNodeCompletionHandler handler) {
    if (!buffer) return log(OSLogType::error, "scheduleBuffer: no buffer");
    {
        std::lock_guard lock(shared_->mutex);
        if (refuseScheduling(*this, shared_->pending.size())) return;
    }
    auto item = std::make_shared<Item>();
    const AVAudioFormat out = outputFormat(0);
    if (sameLayout(buffer->format(), out)) {
        item->buffer = buffer;
    } else {
        log(OSLogType::info, "scheduleBuffer: converting " + buffer->format().description() + " to " + out.description());
        item->buffer = convertBuffer(*buffer, out);
        if (!item->buffer) return log(OSLogType::error, "scheduleBuffer: cannot convert " + buffer->format().description());
    }
    item->length = item->buffer->frameLength();
    item->when = when;
    item->options = options;
    item->callbackType = callbackType;
    item->handler = std::move(handler);
    schedule(std::move(item));
}

std::shared_ptr<AVAudioPlayerNode::Item> AVAudioPlayerNode::makeFileItem(const std::shared_ptr<AVAudioFile>& file,
                                                                         AVAudioFramePosition startingFrame,
                                                                         AVAudioFrameCount frameCount,
                                                                         const std::optional<AVAudioTime>& when) {
    if (!file) {
        log(OSLogType::error, "schedule: no file");
        return nullptr;
    }
    {
        std::lock_guard lock(shared_->mutex);
        if (refuseScheduling(*this, shared_->pending.size())) return nullptr;
    }
    const AVAudioFormat out = outputFormat(0);
    auto item = std::make_shared<Item>();
    try {
        item->feed = std::make_shared<detail::FileFeed>(file->url(), startingFrame, frameCount, out, kRingFrames);
    } catch (const NSErrorException& e) {
        log(OSLogType::error, "schedule: cannot read " + file->url().path() + ": " + e.error().localizedDescription);
        return nullptr;
    }
    if (item->feed->converts())
        log(OSLogType::info, "schedule: converting " + file->processingFormat().description() + " to " + out.description());
    item->length = item->feed->totalFrames();
    item->when = when;
    item->feed->fill(kPrefillFrames);
    if (auto engine = this->engine()) engine->fileFeedReader().add(item->feed);
    return item;
}

void AVAudioPlayerNode::scheduleFile(const std::shared_ptr<AVAudioFile>& file, const std::optional<AVAudioTime>& when,
                                     AVAudioNodeCompletionHandler handler) {
    AVAudioPlayerNodeCompletionHandler typed;
    if (handler) typed = [handler = std::move(handler)](AVAudioPlayerNodeCompletionCallbackType) { handler(); };
    scheduleFile(file, when, AVAudioPlayerNodeCompletionCallbackType::dataConsumed, std::move(typed));
}

void AVAudioPlayerNode::scheduleFile(const std::shared_ptr<AVAudioFile>& file, const std::optional<AVAudioTime>& when,
                                     AVAudioPlayerNodeCompletionCallbackType callbackType,
                                     AVAudioPlayerNodeCompletionHandler handler) {
    if (!file) return log(OSLogType::error, "scheduleFile: no file");
    const int64_t length = std::max<int64_t>(0, file->length());
    scheduleSegment(file, 0, AVAudioFrameCount(std::min<int64_t>(length, UINT32_MAX)), when, callbackType, std::move(handler));
}

void AVAudioPlayerNode::scheduleSegment(const std::shared_ptr<AVAudioFile>& file, AVAudioFramePosition startingFrame,
                                        AVAudioFrameCount frameCount, const std::optional<AVAudioTime>& when,
                                        AVAudioNodeCompletionHandler handler) {
    AVAudioPlayerNodeCompletionHandler typed;
    if (handler) typed = [handler = std::move(handler)](AVAudioPlayerNodeCompletionCallbackType) { handler(); };
    scheduleSegment(file, startingFrame, frameCount, when, AVAudioPlayerNodeCompletionCallbackType::dataConsumed,
                    std::move(typed));
}

void AVAudioPlayerNode::scheduleSegment(const std::shared_ptr<AVAudioFile>& file, AVAudioFramePosition startingFrame,
                                        AVAudioFrameCount frameCount, const std::optional<AVAudioTime>& when,
                                        AVAudioPlayerNodeCompletionCallbackType callbackType,
                                        AVAudioPlayerNodeCompletionHandler handler) {
    auto item = makeFileItem(file, startingFrame, frameCount, when);
    if (!item) return;
    item->callbackType = callbackType;
    item->handler = std::move(handler);
    schedule(std::move(item));
}

// ---------------------------------------------------------------------------------------------
// Transport

void AVAudioPlayerNode::play() { play(std::nullopt); }

void AVAudioPlayerNode::play(const std::optional<AVAudioTime>& when) {
    if (!engine()) return log(OSLogType::error, "play: " + description() + " is not attached to an engine");
    if (shared_->playing.exchange(true)) return;
    shared_->send({Shared::Command::play, nullptr, when});
}

void AVAudioPlayerNode::pause() {
    if (!shared_->playing.exchange(false)) return;
    shared_->send({Shared::Command::pause, nullptr, std::nullopt});
}

bool AVAudioPlayerNode::isPlaying() const { return shared_->playing.load(); }

void AVAudioPlayerNode::dropPending(bool runHandlers) {
    std::vector<std::shared_ptr<Item>> dropped;
    {
        std::lock_guard lock(shared_->mutex);
        for (auto& item : shared_->pending) {
            if (item->claimed) continue;
            item->claimed = true;
            dropped.push_back(item);
            shared_->graveyard.push_back(item);
        }
        shared_->pending.clear();
    }
    shared_->playing.store(false);
    // With no render running the stop applies here; else the render thread applies it next cycle.
    auto engine = this->engine();
    if (!engine || !engine->isRunning()) {
        std::lock_guard lock(shared_->sendMutex);
        shared_->stopWithoutRender();
    } else {
        shared_->send({Shared::Command::stop, nullptr, std::nullopt});
    }
    // Handlers run with no lock held: they may schedule or stop again.
    if (runHandlers)
        for (auto& item : dropped)
            if (item->handler) item->handler(item->callbackType);
    shared_->collectGarbage();
}

void AVAudioPlayerNode::stop() { dropPending(true); }

void AVAudioPlayerNode::reset() {
    AVAudioNode::reset();
    stop();
}

void AVAudioPlayerNode::allocateRenderResources(const detail::RenderConfig& config) {
    AVAudioNode::allocateRenderResources(config);
    if (config.outputFormat.isValid()) renderRate_ = config.outputFormat.sampleRate();
}

void AVAudioPlayerNode::didDetach() { dropPending(false); }

void AVAudioPlayerNode::engineDidStop() {
    Shared& s = *shared_;
    applyWaitingStop();
    // No render runs now: a playing player resumes from its player time when rendering starts again.
    if (s.renderPlaying && !s.needsAnchor) {
        s.pausedPlayerTime = std::max<int64_t>(0, renderSampleTime() - s.startNodeTime);
        s.needsAnchor = true;
    }
    s.anchorValid.store(false);
}

void AVAudioPlayerNode::applyWaitingStop() {
    // A stop sent while the engine ran waits for the next render cycle. With the render stopped, apply
    // it here so that its items (and their file readers) go now; what was sent after it stays queued
    // for the next start.
    Shared& s = *shared_;
    std::lock_guard lock(s.sendMutex);
    std::vector<Shared::Command> after;
    bool stopped = false;
    Shared::Command command;
    while (s.commands.pop(command)) {
        if (command.kind != Shared::Command::stop) {
            after.push_back(std::move(command));
            continue;
        }
        for (auto& earlier : after)
            if (earlier.kind == Shared::Command::schedule) s.release(earlier.item);
        after.clear();
        stopped = true;
    }
    if (stopped) s.applyStop();
    for (auto& later : after) s.commands.push(std::move(later));
    if (stopped) s.collectGarbage();
}

void AVAudioPlayerNode::prepare(AVAudioFrameCount frameCount) {
    std::vector<std::shared_ptr<detail::FileFeed>> feeds;
    {
        std::lock_guard lock(shared_->mutex);
        for (auto& item : shared_->pending)
            if (item->feed) feeds.push_back(item->feed);
    }
    for (auto& feed : feeds) feed->fill(frameCount);
}

std::optional<AVAudioTime> AVAudioPlayerNode::playerTime(const AVAudioTime& nodeTime) const {
    if (!shared_->anchorValid.load(std::memory_order_acquire) || !nodeTime.isSampleTimeValid()) return std::nullopt;
    const int64_t sample = nodeTime.sampleTime() - shared_->anchorNodeTime.load();
    if (nodeTime.isHostTimeValid()) return AVAudioTime(nodeTime.hostTime(), sample, nodeTime.sampleRate());
    return AVAudioTime(sample, nodeTime.sampleRate());
}

std::optional<AVAudioTime> AVAudioPlayerNode::nodeTime(const AVAudioTime& playerTime) const {
    if (!shared_->anchorValid.load(std::memory_order_acquire) || !playerTime.isSampleTimeValid()) return std::nullopt;
    const int64_t sample = playerTime.sampleTime() + shared_->anchorNodeTime.load();
    if (playerTime.isHostTimeValid()) return AVAudioTime(playerTime.hostTime(), sample, playerTime.sampleRate());
    return AVAudioTime(sample, playerTime.sampleRate());
}

// ---------------------------------------------------------------------------------------------
// Render

OSStatus AVAudioPlayerNode::render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                                   AudioBufferList& output, detail::RenderInputs&) {
    Shared& s = *shared_;
    const double rate = renderRate_;
    // A node time for a host time, on this cycle's clock; offline a host time means "now".
    auto nodeTimeFor = [&](const AVAudioTime& time) -> int64_t {
        if (time.isSampleTimeValid()) return time.sampleTime();
        if (time.isHostTimeValid() && cycle.hostTimeValid)
            return sampleTime + std::llround(double(int64_t(time.hostTime() - cycle.hostTime)) * rate * 1e-9);
        return sampleTime;
    };
    auto publishAnchor = [&] {
        s.anchorNodeTime.store(s.startNodeTime);
        s.anchorRate.store(rate);
        s.anchorValid.store(true, std::memory_order_release);
    };

    if (s.needsAnchor) {
        s.needsAnchor = false;
        if (s.renderPlaying) {
            s.startNodeTime = sampleTime - s.pausedPlayerTime;
            publishAnchor();
        }
    }

    Shared::Command command;
    while (s.commands.pop(command)) {
        const int64_t playerNow = sampleTime - s.startNodeTime;
        switch (command.kind) {
        case Shared::Command::schedule: {
            Item* item = command.item;
            if (item->options & AVAudioPlayerNodeBufferInterrupts) {
                s.finishAll(cycle, rate);
                s.nextItemStart = s.renderPlaying ? playerNow : s.pausedPlayerTime;
            } else if (item->options & AVAudioPlayerNodeBufferInterruptsAtLoop) {
                // Everything waiting behind the current item goes; a looping current item ends at its loop end.
                while (s.queueCount > 1) {
                    const size_t last = (s.queueHead + s.queueCount - 1) % s.queue.size();
                    Item* dropped = s.queue[last];
                    --s.queueCount;
                    s.finish(dropped, cycle, 0, rate);
                }
                if (Item* current = s.front()) current->endAtLoop = true;
            }
            if (s.queueCount == s.queue.size()) {
                s.finish(item, cycle, 0, rate);
                break;
            }
            s.queue[(s.queueHead + s.queueCount) % s.queue.size()] = item;
            ++s.queueCount;
            break;
        }
        case Shared::Command::play:
            if (s.renderPlaying) break;
            s.renderPlaying = true;
            s.startNodeTime = (command.when ? nodeTimeFor(*command.when) : sampleTime) - s.pausedPlayerTime;
            publishAnchor();
            break;
        case Shared::Command::pause:
            if (!s.renderPlaying) break;
            s.pausedPlayerTime = std::max<int64_t>(0, playerNow);
            s.renderPlaying = false;
            s.anchorValid.store(false);
            break;
        case Shared::Command::stop:
            s.applyStop();
            break;
        case Shared::Command::none:
            break;
        }
    }

    detail::zeroFill(output, 0, frames);
    if (!s.renderPlaying) return noErr;

    const int64_t playerStart = sampleTime - s.startNodeTime;
    AVAudioFrameCount pos = 0;
    while (pos < frames) {
        const int64_t now = playerStart + pos;
        if (now < 0) {
            pos += AVAudioFrameCount(std::min<int64_t>(frames - pos, -now));
            continue;
        }
        Item* item = s.front();
        if (!item) break;
        if (!item->started) {
            item->started = true;
            if (item->when) {
                const int64_t asked = nodeTimeFor(*item->when) - (item->when->isSampleTimeValid() ? 0 : s.startNodeTime);
                const int64_t start = std::max(s.nextItemStart, asked);
                item->startPlayerTime = start;
                // A time already past starts the item at once, as far into it as it is late, so that
                // items timed together stay together whichever render cycle each one reaches.
                if (start < now) {
                    const int64_t late = now - start;
                    if (item->buffer && (item->options & AVAudioPlayerNodeBufferLoops) && item->length > 0) {
                        item->position = late % item->length;
                    } else {
                        const int64_t skipped = std::min(late, item->length);
                        if (item->feed) item->feed->skip(skipped);
                        item->position = skipped;
                    }
                }
            } else {
                item->startPlayerTime = std::max(s.nextItemStart, now);  // after the item before it, or at once
            }
        }
        if (item->startPlayerTime > now) {
            pos += AVAudioFrameCount(std::min<int64_t>(frames - pos, item->startPlayerTime - now));
            continue;
        }
        const bool loops = (item->options & AVAudioPlayerNodeBufferLoops) && item->buffer && item->length > 0;
        AVAudioFrameCount n = frames - pos;
        if (item->buffer) {
            const int64_t inLoop = loops ? item->position % item->length : item->position;
            n = AVAudioFrameCount(std::min<int64_t>(n, item->length - inLoop));
            const uint32_t channels = std::min(output.mNumberBuffers, uint32_t(item->buffer->format().channelCount()));
            for (uint32_t c = 0; c < channels; ++c)
                std::memcpy(detail::channel(output, c) + pos, item->buffer->floatChannelData()[c] + inLoop, n * sizeof(float));
            item->position += n;
        } else if (item->feed) {
            n = AVAudioFrameCount(std::min<int64_t>(n, item->length - item->position));
            // Offline the engine fills the ring before each cycle; a cycle longer than the ring
            // reads the rest right here, so no frame is ever missing.
            if (cycle.offline)
                while (item->feed->available() < int64_t(n) && !item->feed->isFilled())
                    if (item->feed->fill(n) == 0) break;
            item->feed->read(output, pos, n);
            item->position += n;
        }
        pos += n;
        const bool atEnd = loops ? (item->endAtLoop && item->position % item->length == 0) : item->position >= item->length;
        if (atEnd) {
            // An item that started late ends where it would have ended on time.
            s.nextItemStart = loops ? playerStart + pos : item->startPlayerTime + item->length;
            s.popFront();
            s.finish(item, cycle, pos, rate);
        }
    }
    return noErr;
}

}  // namespace platform
