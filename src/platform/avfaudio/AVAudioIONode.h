// The engine's two device-facing nodes. The output node takes the graph's final signal on input
// bus 0 and converts it into the device format (in manual rendering: manualRenderingFormat). The
// input node gives what the input device captures, through its channel map (offline: what the
// manual rendering input block hands it).
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioMixing.h"
#include "platform/avfaudio/AVAudioNode.h"
#include "platform/avfaudio/detail/InputClockBridge.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class AudioDeviceStream;
class AUOutputUnit;
namespace detail {
class PCMConverter;
}

class AVAudioIONode : public AVAudioNode {
public:
    ~AVAudioIONode() override;
    // The C handle of the node's I/O unit (device properties 2000 and 'fsiz').
    AudioUnit audioUnit() const;
    // The stream of the device this node talks to.
    const std::shared_ptr<AudioDeviceStream>& deviceStream() const { return stream_; }
    // The device's format (Float32 deinterleaved at the device's rate and channel count).
    AVAudioFormat hardwareFormat() const;

protected:
    AVAudioIONode(AVAudioNodeBus inputs, AVAudioNodeBus outputs, std::shared_ptr<AudioDeviceStream> stream);
    std::shared_ptr<AudioDeviceStream> stream_;
};

class AVAudioOutputNode : public AVAudioIONode {
public:
    AVAudioOutputNode();
    ~AVAudioOutputNode() override;
    std::string className() const override { return "AVAudioOutputNode"; }

protected:
    AVAudioFormat defaultOutputFormat(AVAudioNodeBus bus) const override;
    AVAudioFormat defaultInputFormat(AVAudioNodeBus bus) const override;
    void allocateRenderResources(const detail::RenderConfig& config) override;
    OSStatus render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                    AudioBufferList& output, detail::RenderInputs& inputs) override;

private:
    std::unique_ptr<detail::PCMConverter> converter_;
    AVAudioFormat sourceFormat_;
};

// The block that hands the input node `frames` frames offline (deinterleaved Float32 in the format
// given with it); null when there are none (the node then renders silence).
using AVAudioIONodeInputBlock = std::function<const AudioBufferList*(AVAudioFrameCount frames)>;

class AVAudioInputNode : public AVAudioIONode, public AVAudioMixing {
public:
    static constexpr uint32_t kMaximumChannels = 64;

    AVAudioInputNode();
    ~AVAudioInputNode() override;
    std::string className() const override { return "AVAudioInputNode"; }

    // setManualRenderingInputPCMFormat(_:inputBlock:): offline, the node renders what the block
    // gives, in `format` (its rate and channels become the node's device format). False for a
    // format that is not standard (Float32 deinterleaved).
    bool setManualRenderingInputPCMFormat(const AVAudioFormat& format, AVAudioIONodeInputBlock block);

    // The device channels bus 0 gives, in order (empty: all of them). Set through the I/O unit's
    // property 2002 (kAudioOutputUnitProperty_ChannelMap, output scope, element 1).
    std::vector<int32_t> channelMap() const;

    // Engine (main thread): the input device runs while the node is tapped or pulled in real time;
    // the engine's output renders `outputCycle` frames a cycle at `outputRate`.
    void startCapture(detail::TapQueue& taps, AVAudioFrameCount outputCycle, double outputRate);
    void stopCapture();

    // In real time the render reads the input through a ring that bridges the two devices' clocks.
    // It starts once the ring holds this many input frames (the stated latency; 0 before capture).
    AVAudioFrameCount monitorLatency() const { return latency_.load(std::memory_order_relaxed); }
    static AVAudioFrameCount monitorLatency(AVAudioFrameCount inputCycle, double inputRate, AVAudioFrameCount outputCycle,
                                            double outputRate);
    // What the bridge did since the node was made: cycles the ring ran dry (zeros given),
    // times the input outran the ring (frames lost), frames dropped and repeated to absorb drift.
    struct MonitorCounts {
        uint64_t underruns = 0;
        uint64_t overflows = 0;
        uint64_t dropped = 0;
        uint64_t repeated = 0;
    };
    MonitorCounts monitorCounts() const;

protected:
    AVAudioFormat defaultOutputFormat(AVAudioNodeBus bus) const override;
    OSStatus render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                    AudioBufferList& output, detail::RenderInputs& inputs) override;
    bool feedsTapItself(const detail::RenderCycle& cycle) const override { return !cycle.offline; }

private:
    // What the device (or the manual input) has: channels and rate.
    uint32_t sourceChannels() const;
    double sourceRate() const;
    OSStatus setChannelMap(const void* data, uint32_t size);
    // Copies the mapped channels of `source` into `output`; missing ones are silent.
    void mapChannels(const AudioBufferList* source, AudioBufferList& output, AVAudioFrameCount frames) const;
    // Input device thread.
    void captureCycle(AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime);

    AVAudioFormat manualFormat_;
    AVAudioIONodeInputBlock manualBlock_;
    std::array<std::atomic<int32_t>, kMaximumChannels> map_{};
    std::atomic<uint32_t> mapCount_{0};
    detail::TapQueue* taps_ = nullptr;
    double captureRate_ = 44100;
    // Captured frames waiting for the engine's render (the device thread writes, the render reads).
    struct Monitor;
    std::unique_ptr<Monitor> ownedMonitor_;
    std::atomic<Monitor*> monitor_{nullptr};
    std::atomic<bool> monitorInUse_{false};
    std::atomic<AVAudioFrameCount> latency_{0};
    detail::InputClockBridgeCounts counts_;
};

}  // namespace platform
