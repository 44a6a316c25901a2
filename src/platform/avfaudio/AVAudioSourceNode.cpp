#include "platform/avfaudio/AVAudioSourceNode.h"

namespace platform {

AVAudioSourceNode::AVAudioSourceNode(AVAudioSourceNodeRenderBlock renderBlock)
    : AVAudioNode(0, 1), block_(std::move(renderBlock)), format_(AVAudioFormat::standardFormatWithSampleRate(44100, 2)) {}

AVAudioSourceNode::AVAudioSourceNode(const AVAudioFormat& format, AVAudioSourceNodeRenderBlock renderBlock)
    : AVAudioNode(0, 1), block_(std::move(renderBlock)), format_(format) {}

AVAudioFormat AVAudioSourceNode::defaultOutputFormat(AVAudioNodeBus) const { return format_; }

OSStatus AVAudioSourceNode::render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                                   AudioBufferList& output, detail::RenderInputs&) {
    // The buffers still hold the previous cycle: a block that writes nothing must give silence.
    detail::zeroFill(output, 0, frames);
    if (!block_) return noErr;
    bool silence = false;
    const OSStatus status = block_(silence, detail::renderTimeStamp(cycle, sampleTime), frames, &output);
    if (silence) detail::zeroFill(output, 0, frames);
    return status;
}

}  // namespace platform
