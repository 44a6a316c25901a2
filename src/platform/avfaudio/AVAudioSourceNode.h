// A node whose samples come from a block the caller supplies, called on the render thread once per
// cycle. A non-zero status from the block makes the cycle fail (an offline render reports error).
#pragma once

#include "platform/avfaudio/AVAudioMixing.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <functional>

namespace platform {

// Fills `frameCount` frames into `outputData` (deinterleaved Float32 in the node's format). The node
// hands the block silent buffers, so frames it leaves unwritten are silent. `isSilence` may be set
// to say the output is silent. Must not block or allocate.
using AVAudioSourceNodeRenderBlock = std::function<OSStatus(bool& isSilence, const AudioTimeStamp& timestamp,
                                                            AVAudioFrameCount frameCount, AudioBufferList* outputData)>;

class AVAudioSourceNode : public AVAudioNode, public AVAudioMixing {
public:
    // init(renderBlock:): the block renders in the format of the connection (44100 Hz stereo
    // until connected).
    explicit AVAudioSourceNode(AVAudioSourceNodeRenderBlock renderBlock);
    // init(format:renderBlock:): the node's output format until a connection gives another.
    AVAudioSourceNode(const AVAudioFormat& format, AVAudioSourceNodeRenderBlock renderBlock);

    std::string className() const override { return "AVAudioSourceNode"; }
    // The block the node renders through.
    const AVAudioSourceNodeRenderBlock& renderBlock() const { return block_; }

protected:
    AVAudioFormat defaultOutputFormat(AVAudioNodeBus bus) const override;
    OSStatus render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                    AudioBufferList& output, detail::RenderInputs& inputs) override;

private:
    AVAudioSourceNodeRenderBlock block_;
    AVAudioFormat format_;
};

}  // namespace platform
