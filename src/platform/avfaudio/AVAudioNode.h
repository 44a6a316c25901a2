// A node of the audio graph: numbered input and output buses, an audio unit, and a render function
// that the engine's render plan calls at most once per cycle. Nodes live in std::shared_ptr; the
// engine holds the attached ones and a node only points back at its engine weakly.
#pragma once

#include "platform/avfaudio/AVAudioFormat.h"
#include "platform/avfaudio/AVAudioTime.h"
#include "platform/avfaudio/detail/NodeTap.h"
#include "platform/avfaudio/detail/RenderContext.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class AVAudioEngine;
class AUAudioUnit;

namespace detail {
class RenderPlan;
}

class AVAudioNode : public std::enable_shared_from_this<AVAudioNode> {
public:
    virtual ~AVAudioNode();
    AVAudioNode(const AVAudioNode&) = delete;
    AVAudioNode& operator=(const AVAudioNode&) = delete;

    // The engine the node is attached to; null when detached.
    std::shared_ptr<AVAudioEngine> engine() const { return engine_.lock(); }

    AVAudioNodeBus numberOfInputs() const { return numberOfInputs_.load(std::memory_order_relaxed); }
    AVAudioNodeBus numberOfOutputs() const { return numberOfOutputs_; }

    // The format of the connection on that bus; unconnected: the node's own default. An invalid
    // format for a bus the node does not have.
    AVAudioFormat inputFormat(AVAudioNodeBus bus) const;
    AVAudioFormat outputFormat(AVAudioNodeBus bus) const;

    // Host and sample time of the last cycle's first frame at this node; none before the first
    // cycle and while the engine is stopped.
    std::optional<AVAudioTime> lastRenderTime() const;

    // Clears the node's render state (a player also drops its schedule).
    virtual void reset();

    // The node's audio unit (every node has one).
    std::shared_ptr<AUAudioUnit> auAudioUnit() const { return auAudioUnit_; }

    // installTapOnBus(_:bufferSize:format:block:): from the node's next rendered frame on, the
    // tap thread of the engine calls `block` with every `bufferSize` consecutive frames of the
    // bus (offline: at the end of each renderOffline call, on its caller's thread). A null
    // format means the bus's output format. Refused with a log line, installing nothing: no
    // engine, a bus the node does not render, bufferSize 0, a format of another rate or channel
    // count, or a second tap on the bus. A tapped node is rendered every cycle even when nothing
    // pulls it.
    void installTapOnBus(AVAudioNodeBus bus, AVAudioFrameCount bufferSize, const std::optional<AVAudioFormat>& format,
                         AVAudioNodeTapBlock block);
    // removeTapOnBus(_:): no buffer is delivered after it returns (but the one being delivered).
    // Never waits: a tap's block may remove its own tap.
    void removeTapOnBus(AVAudioNodeBus bus);
    // Slices of the tapped bus dropped because the tap thread fell behind (0 without a tap).
    uint64_t tapOverflowCount(AVAudioNodeBus bus) const;
    bool hasTap() const { return tap_.load(std::memory_order_acquire) != nullptr; }

    // The class name ("AVAudioMixerNode") and "<AVAudioMixerNode: 0x...>" as the platform prints a node.
    virtual std::string className() const { return "AVAudioNode"; }
    std::string description() const;

    // True for nodes that pull their inputs at a pace of their own (time effects): the nodes that
    // feed them keep their own sample time even through cycles in which they are not pulled.
    virtual bool pullsAtOwnPace() const { return false; }

protected:
    // A node with the given buses. Without a unit, a plain one with as many buses is made.
    AVAudioNode(AVAudioNodeBus inputs, AVAudioNodeBus outputs, std::shared_ptr<AUAudioUnit> unit = nullptr);

    // The output format of a bus that has no connection.
    virtual AVAudioFormat defaultOutputFormat(AVAudioNodeBus bus) const;
    // The input format of a bus that has no connection.
    virtual AVAudioFormat defaultInputFormat(AVAudioNodeBus bus) const;

    // Main thread, before a plan that renders this node is published: allocate what render needs.
    // Called only when the configuration changed and never while a plan with the node renders.
    virtual void allocateRenderResources(const detail::RenderConfig& config);

    // Render thread: fills `frames` frames of output bus 0 into `output` (Float32 deinterleaved,
    // the output format). `sampleTime` is the node's own sample time of the first frame. Takes no
    // lock shared with the main thread and allocates nothing. The default runs the unit's render
    // block on input bus 0 (passing the input through when bypassed or without a block).
    virtual OSStatus render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                            AudioBufferList& output, detail::RenderInputs& inputs);

    // Main thread: the node was attached to or detached from an engine.
    virtual void didAttach(const std::shared_ptr<AVAudioEngine>& engine);
    virtual void didDetach();
    // The engine stopped: no render runs until it starts again (main thread).
    virtual void engineDidStop() {}

    // True when the node's tap is fed by a cycle of its own (a device's), not by the engine's render.
    virtual bool feedsTapItself(const detail::RenderCycle&) const { return false; }
    detail::NodeTap* currentTap() const { return tap_.load(std::memory_order_acquire); }

    // Render thread (or main while no render runs): the node's sample time after its last render.
    int64_t renderSampleTime() const { return renderSampleTime_; }
    void setNumberOfInputs(AVAudioNodeBus count) { numberOfInputs_.store(count, std::memory_order_relaxed); }

private:
    friend class AVAudioEngine;
    friend class detail::RenderPlan;

    std::weak_ptr<AVAudioEngine> engine_;
    std::atomic<AVAudioNodeBus> numberOfInputs_;
    AVAudioNodeBus numberOfOutputs_;
    std::shared_ptr<AUAudioUnit> auAudioUnit_;
    // The tap on bus 0, owned by the engine's tap queue; read by the render thread.
    std::atomic<detail::NodeTap*> tap_{nullptr};

    // Plan bookkeeping, main thread only.
    std::optional<detail::RenderConfig> preparedConfig_;
    int livePlans_ = 0;

    // Render thread only.
    int64_t renderSampleTime_ = 0;
    uint64_t renderCycleIndex_ = 0;
    bool renderSampleTimeValid_ = false;

    // Written by the render thread, read anywhere.
    std::atomic<int64_t> lastSampleTime_{0};
    std::atomic<uint64_t> lastHostTime_{0};
    std::atomic<double> lastSampleRate_{0};
    std::atomic<int> lastRenderFlags_{0};
};

}  // namespace platform
