#include "platform/avfaudio/AVAudioMixerNode.h"

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/media/PCMConverter.h"

#include <algorithm>
#include <cmath>

namespace platform {

struct AVAudioMixerNode::InputState {
    AVAudioFormat format;
    std::unique_ptr<detail::PCMConverter> converter;  // when channels or rate differ
    std::shared_ptr<AVAudioPCMBuffer> converted;
    size_t maximumInput = 0;
};

namespace {
std::shared_ptr<AUAudioUnit> makeMixerUnit() {
    auto unit = std::make_shared<AUAudioUnit>(
        AudioComponentDescription{FourCC("aumx"), FourCC("mcmx"), FourCC("appl"), 0, 0}, 1, 1);
    unit->audioUnitName = "AUMultiChannelMixer";
    unit->inputBusses() = AUAudioUnitBusArray(AUAudioUnitBusType::input, 1, AVAudioFormat::standardFormatWithSampleRate(44100, 2),
                                              true, AVAudioMixerNode::maximumInputBusCount);
    return unit;
}
}  // namespace

AVAudioMixerNode::AVAudioMixerNode() : AVAudioNode(1, 1, makeMixerUnit()) {
    auAudioUnit()->inputBusses().countChangeHandler = [this](uint32_t, uint32_t count) {
        setNumberOfInputs(count);
        return true;
    };
}

AVAudioMixerNode::~AVAudioMixerNode() {
    // The unit may outlive its node: it must not call back into it.
    auAudioUnit()->inputBusses().countChangeHandler = nullptr;
}

AVAudioNodeBus AVAudioMixerNode::nextAvailableInputBus() const {
    const AVAudioNodeBus count = numberOfInputs();
    auto engine = this->engine();
    if (!engine) return 0;
    for (AVAudioNodeBus bus = 0; bus < count; ++bus)
        if (!engine->connectionFormat(this, true, bus)) return bus;
    return count;
}

AVAudioFormat AVAudioMixerNode::defaultOutputFormat(AVAudioNodeBus) const {
    return AVAudioFormat::standardFormatWithSampleRate(44100, 2);
}

AVAudioFormat AVAudioMixerNode::defaultInputFormat(AVAudioNodeBus) const { return outputFormat(0); }

void AVAudioMixerNode::allocateRenderResources(const detail::RenderConfig& config) {
    AVAudioNode::allocateRenderResources(config);
    const AVAudioFormat& out = config.outputFormat;
    const bool outputChanged = !(out == renderFormat_);
    renderFormat_ = out;
    inputStates_.resize(config.inputFormats.size());
    for (size_t bus = 0; bus < config.inputFormats.size(); ++bus) {
        const AVAudioFormat& in = config.inputFormats[bus];
        auto& state = inputStates_[bus];
        if (!in.isValid()) {
            state.reset();
            continue;
        }
        const size_t maximumInput = in.sampleRate() == out.sampleRate()
                                        ? config.maximumFrames
                                        : size_t(std::ceil(config.maximumFrames * in.sampleRate() / out.sampleRate())) + 256;
        if (state && state->format == in && !outputChanged && state->maximumInput == maximumInput) continue;
        state = std::make_unique<InputState>();
        state->format = in;
        state->maximumInput = maximumInput;
        if (in.sampleRate() != out.sampleRate() || in.channelCount() != out.channelCount()) {
            state->converter = std::make_unique<detail::PCMConverter>(in, out, maximumInput);
            state->converter->prepareForRender();
            state->converted = AVAudioPCMBuffer::make(out, config.maximumFrames);
        }
    }
}

OSStatus AVAudioMixerNode::render(const detail::RenderCycle&, int64_t, AVAudioFrameCount frames, AudioBufferList& output,
                                  detail::RenderInputs& inputs) {
    detail::zeroFill(output, 0, frames);
    const uint32_t outChannels = output.mNumberBuffers;
    for (AVAudioNodeBus bus = 0; bus < inputStates_.size(); ++bus) {
        InputState* state = inputStates_[bus].get();
        if (!state) continue;
        OSStatus status = noErr;
        const AudioBufferList* data = nullptr;
        if (state->converter) {
            auto pullInput = [&](size_t want, const AudioBufferList*& list) -> size_t {
                const auto n = AVAudioFrameCount(std::min(want, state->maximumInput));
                list = inputs.pull(bus, n, status);
                return list ? n : 0;
            };
            AudioBufferList* converted = state->converted->mutableAudioBufferList();
            const size_t got = state->converter->convert(converted, frames, pullInput);
            detail::zeroFill(*converted, AVAudioFrameCount(got), frames);
            data = converted;
        } else {
            data = inputs.pull(bus, frames, status);
        }
        if (!data) continue;

        // Sources are pulled even when silent so that they keep time.
        const AVAudioMixing* mixing = inputs.sourceMixing(bus);
        const float volume = mixing ? mixing->volume() : 1.0f;
        const float pan = mixing ? mixing->pan() : 0.0f;
        if (volume == 0.0f) continue;
        for (uint32_t c = 0; c < outChannels; ++c) {
            const uint32_t from = c < data->mNumberBuffers ? c : data->mNumberBuffers - 1;
            if (data->mNumberBuffers == 0) break;
            // Balance: the far side is turned down, the near side stays at unity.
            float gain = volume;
            if (outChannels == 2 && c == 0 && pan > 0) gain *= 1.0f - pan;
            if (outChannels == 2 && c == 1 && pan < 0) gain *= 1.0f + pan;
            const float* src = detail::channel(*data, from);
            float* dst = detail::channel(output, c);
            if (gain == 1.0f)
                for (AVAudioFrameCount i = 0; i < frames; ++i) dst[i] += src[i];
            else
                for (AVAudioFrameCount i = 0; i < frames; ++i) dst[i] += src[i] * gain;
        }
    }
    const float gain = outputVolume();
    if (gain != 1.0f)
        for (uint32_t c = 0; c < outChannels; ++c) {
            float* dst = detail::channel(output, c);
            for (AVAudioFrameCount i = 0; i < frames; ++i) dst[i] *= gain;
        }
    return noErr;
}

}  // namespace platform
