#include "Sonora/Taps/BaseTap.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/avfaudio/AVAudioNode.h"
#include "platform/dispatch/DispatchQueue.h"

namespace sonora {

namespace {
struct UnfairGuard {
    explicit UnfairGuard(platform::os_unfair_lock& lock) : lock(lock) { platform::os_unfair_lock_lock(&lock); }
    ~UnfairGuard() { platform::os_unfair_lock_unlock(&lock); }
    platform::os_unfair_lock& lock;
};
}  // namespace

BaseTap::BaseTap(std::shared_ptr<Node> input, uint32_t bufferSize) : bufferSize_(bufferSize), input_(std::move(input)) {}

void BaseTap::setBus(int64_t bus) {
    if (isStarted()) {
        stop();
        bus_ = bus;
        start();
    } else {
        bus_ = bus;
    }
}

void BaseTap::setInput(std::shared_ptr<Node> input) {
    if (input == input_) return;
    if (isStarted()) {
        stop();
        input_ = std::move(input);
        start();
    } else {
        input_ = std::move(input);
    }
}

void BaseTap::start() {
    UnfairGuard guard(unfairLock_);
    if (isStarted()) return;
    isStarted_.store(true, std::memory_order_release);
    removeTap();
    const auto node = input_ ? input_->avAudioNode() : nullptr;
    if (node && node->engine()) {
        // The block keeps the tap alive while it is installed.
        std::shared_ptr<BaseTap> self = weak_from_this().lock();
        BaseTap* raw = this;
        node->installTapOnBus(platform::AVAudioNodeBus(bus_), bufferSize_, std::nullopt,
                              [self, raw](const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time) {
                                  raw->handleTapBlock(buffer, time);
                              });
    } else {
        Log({"The tapped node isn't attached to the engine"});
    }
}

void BaseTap::handleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time) {
    // The last, shorter buffer of a removed tap keeps its own length.
    if (bufferSize_ <= buffer->frameCapacity()) buffer->setFrameLength(bufferSize_);
    // One work item per buffer: if the main thread stalls they pile up, none is merged or dropped.
    std::shared_ptr<BaseTap> self = weak_from_this().lock();
    BaseTap* raw = this;
    platform::DispatchQueue::main().async([self, raw, buffer, time] {
        UnfairGuard guard(raw->unfairLock_);
        if (raw->isStarted()) raw->doHandleTapBlock(buffer, time);
    });
}

void BaseTap::doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>&, const platform::AVAudioTime&) {}

void BaseTap::stop() { stopTap(); }

void BaseTap::stopTap() {
    UnfairGuard guard(unfairLock_);
    removeTap();
    isStarted_.store(false, std::memory_order_release);
}

void BaseTap::removeTap() {
    const auto node = input_ ? input_->avAudioNode() : nullptr;
    if (node && node->engine()) node->removeTapOnBus(platform::AVAudioNodeBus(bus_));
    else Log({"The tapped node isn't attached to the engine"});
}

void BaseTap::stopIfStarted() {
    if (isStarted()) stop();
}

}  // namespace sonora
