// The base of the node taps: installs a tap on one output bus of a node's platform node, takes
// every buffer the engine's tap thread delivers and hands it to the main queue, where a subclass
// analyses it. Start and stop serialise on an unfair lock, so nothing is analysed after stop().
//
// Hold taps in std::shared_ptr: an installed tap keeps its object alive through its block.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/avfaudio/AVAudioTime.h"
#include "platform/foundation/OSUnfairLock.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace sonora {

class BaseTap : public std::enable_shared_from_this<BaseTap> {
public:
    BaseTap(std::shared_ptr<Node> input, uint32_t bufferSize);
    virtual ~BaseTap() = default;
    BaseTap(const BaseTap&) = delete;
    BaseTap& operator=(const BaseTap&) = delete;

    uint32_t bufferSize() const { return bufferSize_; }
    bool isStarted() const { return isStarted_.load(std::memory_order_acquire); }

    // The tapped output bus; changing it while started moves the tap.
    int64_t bus() const { return bus_; }
    void setBus(int64_t bus);
    // The tapped node; changing it while started moves the tap.
    std::shared_ptr<Node> input() const { return input_; }
    void setInput(std::shared_ptr<Node> input);

    // Any thread. Installs the tap (once); without an engine it logs and stays started.
    virtual void start();
    // Tap thread: queues the buffer for the main queue.
    virtual void handleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time);
    // Any thread. Removes the tap; subclasses also clear their results.
    virtual void stop();
    // Removes the tap from the current bus, without the lock or the state (its callers hold both).
    void removeTap();
    void stopIfStarted();

protected:
    // Main queue, under the lock, only while started.
    virtual void doHandleTapBlock(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time);
    // The base part of stop(): lock, remove the tap, not started, unlock.
    void stopTap();

private:
    const uint32_t bufferSize_;
    std::atomic<bool> isStarted_{false};
    int64_t bus_ = 0;
    std::shared_ptr<Node> input_;
    platform::os_unfair_lock unfairLock_;
};

}  // namespace sonora
