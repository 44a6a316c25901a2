// The engine's two device-facing nodes. The output node takes the graph's final signal on input
// bus 0 and converts it into the device format (in manual rendering: manualRenderingFormat). The
// input node gives what the input device captures (the null input: 2-channel silence at 44100 Hz).
#pragma once

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioMixing.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <memory>

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

class AVAudioInputNode : public AVAudioIONode, public AVAudioMixing {
public:
    AVAudioInputNode();
    ~AVAudioInputNode() override;
    std::string className() const override { return "AVAudioInputNode"; }

protected:
    AVAudioFormat defaultOutputFormat(AVAudioNodeBus bus) const override;
    OSStatus render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                    AudioBufferList& output, detail::RenderInputs& inputs) override;
};

}  // namespace platform
