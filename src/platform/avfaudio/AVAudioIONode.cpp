#include "platform/avfaudio/AVAudioIONode.h"

#include "platform/audiotoolbox/AUOutputUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/media/PCMConverter.h"

#include <algorithm>
#include <cmath>

namespace platform {

AVAudioIONode::AVAudioIONode(AVAudioNodeBus inputs, AVAudioNodeBus outputs, std::shared_ptr<AudioDeviceStream> stream)
    : AVAudioNode(inputs, outputs, std::make_shared<AUOutputUnit>(stream)), stream_(std::move(stream)) {}

AVAudioIONode::~AVAudioIONode() = default;

AudioUnit AVAudioIONode::audioUnit() const { return auAudioUnit()->audioUnit(); }

AVAudioFormat AVAudioIONode::hardwareFormat() const {
    const double rate = stream_->sampleRate();
    const uint32_t channels = stream_->channelCount();
    return AVAudioFormat::standardFormatWithSampleRate(rate > 0 ? rate : 44100, channels > 0 ? channels : 2);
}

// --- Output ---

AVAudioOutputNode::AVAudioOutputNode()
    : AVAudioIONode(1, 1, std::make_shared<AudioDeviceStream>(AudioDeviceStream::Direction::output)) {}

AVAudioOutputNode::~AVAudioOutputNode() = default;

AVAudioFormat AVAudioOutputNode::defaultOutputFormat(AVAudioNodeBus) const {
    auto engine = this->engine();
    if (engine && engine->isInManualRenderingMode()) return engine->manualRenderingFormat();
    return hardwareFormat();
}

AVAudioFormat AVAudioOutputNode::defaultInputFormat(AVAudioNodeBus bus) const { return defaultOutputFormat(bus); }

void AVAudioOutputNode::allocateRenderResources(const detail::RenderConfig& config) {
    const AVAudioFormat& in = config.inputFormats.empty() ? AVAudioFormat() : config.inputFormats[0];
    const AVAudioFormat& out = config.outputFormat;
    sourceFormat_ = in;
    converter_.reset();
    if (in.isValid() && out.isValid() &&
        (in.sampleRate() != out.sampleRate() || in.channelCount() != out.channelCount())) {
        converter_ = std::make_unique<detail::PCMConverter>(
            in, out, size_t(std::ceil(config.maximumFrames * in.sampleRate() / out.sampleRate())) + 256);
    }
}

OSStatus AVAudioOutputNode::render(const detail::RenderCycle&, int64_t, AVAudioFrameCount frames, AudioBufferList& output,
                                   detail::RenderInputs& inputs) {
    OSStatus status = noErr;
    if (converter_) {
        const size_t maximumInput = size_t(std::ceil(frames * sourceFormat_.sampleRate() / converter_->outputFormat().mSampleRate)) + 256;
        auto pullInput = [&](size_t want, const AudioBufferList*& list) -> size_t {
            const auto n = AVAudioFrameCount(std::min(want, maximumInput));
            list = inputs.pull(0, n, status);
            return list ? n : 0;
        };
        const size_t got = converter_->convert(&output, frames, pullInput);
        detail::zeroFill(output, AVAudioFrameCount(got), frames);
        return status;
    }
    detail::copyOrSilence(output, inputs.pull(0, frames, status), frames);
    return status;
}

// --- Input ---

AVAudioInputNode::AVAudioInputNode()
    : AVAudioIONode(0, 1, std::make_shared<AudioDeviceStream>(AudioDeviceStream::Direction::input)) {}

AVAudioInputNode::~AVAudioInputNode() = default;

AVAudioFormat AVAudioInputNode::defaultOutputFormat(AVAudioNodeBus) const { return hardwareFormat(); }

OSStatus AVAudioInputNode::render(const detail::RenderCycle&, int64_t, AVAudioFrameCount frames, AudioBufferList& output,
                                  detail::RenderInputs&) {
    // Captured input is not routed yet: the input renders silence (the null input's signal).
    detail::zeroFill(output, 0, frames);
    return noErr;
}

}  // namespace platform
