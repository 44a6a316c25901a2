#include "Sonora/Nodes/support/TestNodes.h"

#include "platform/foundation/OSLog.h"

#include <algorithm>

using namespace platform;

namespace testnodes {

SourceNode::SourceNode(Signal signal, OSStatus status) {
    auto frames = frames_;
    node_ = std::make_shared<AVAudioSourceNode>(
        [signal = std::move(signal), frames, status](bool&, const AudioTimeStamp&, AVAudioFrameCount count,
                                                     AudioBufferList* output) {
            const int64_t first = frames->fetch_add(count);
            for (uint32_t c = 0; c < output->mNumberBuffers; ++c) {
                auto* data = static_cast<float*>(output->mBuffers[c].mData);
                for (AVAudioFrameCount i = 0; i < count; ++i) data[i] = signal(c, first + i);
            }
            return status;
        });
}

std::shared_ptr<SourceNode> constant(float level) {
    return std::make_shared<SourceNode>([level](uint32_t, int64_t) { return level; });
}

GainUnit::GainUnit() : AUAudioUnit({kAudioUnitType_Effect, FourCC("tgan"), FourCC("Tmbr"), 0, 0}, 2, 1) {
    gain = AUParameterTree::createParameter("gain", "Gain", 0, 0, 2, kAudioUnitParameterUnit_LinearGain, std::nullopt,
                                            kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable |
                                                kAudioUnitParameterFlag_CanRamp);
    gain->setValue(1);
    setParameterTree(AUParameterTree::createTree({gain}));
    setScheduleMIDIEventBlock([this](AUEventSampleTime time, uint8_t, int64_t length, const uint8_t* bytes) {
        midiTimes.push_back(time);
        midiBytes.insert(midiBytes.end(), bytes, bytes + length);
    });
    resetHandler = [this] { ++resets; };
    auto parameter = gain;
    setInternalRenderBlock([this, parameter](AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timestamp,
                                             AUAudioFrameCount frames, NSInteger, AudioBufferList* output,
                                             const AURenderEvent* events, AURenderPullInputBlock pull) {
        for (const AURenderEvent* e = events; e; e = e->head.next)
            if (e->head.eventType == AURenderEventType::parameter || e->head.eventType == AURenderEventType::parameterRamp)
                renderedEvents.push_back(e->parameter);
        const OSStatus status = pull ? pull(flags, timestamp, frames, 0, output) : kAudioUnitErr_NoConnection;
        if (status != noErr && status != kAudioUnitErr_NoConnection) return status;
        const float g = status == noErr ? parameter->value() : 0.0f;
        for (uint32_t c = 0; c < output->mNumberBuffers; ++c) {
            auto* out = static_cast<float*>(output->mBuffers[c].mData);
            for (AUAudioFrameCount i = 0; i < frames; ++i) out[i] *= g;
        }
        return noErr;
    });
}

std::vector<AUParameterEvent> GainUnit::renderScheduledEvents(AUAudioFrameCount frames) {
    if (!renderResourcesAllocated()) {
        setMaximumFramesToRender(frames);
        allocateRenderResources();
    }
    renderedEvents.clear();
    std::vector<float> samples(size_t(frames) * 2, 0.0f);
    alignas(AudioBufferList) unsigned char storage[AudioBufferListSize(2)];
    auto* list = reinterpret_cast<AudioBufferList*>(storage);
    list->mNumberBuffers = 2;
    for (uint32_t c = 0; c < 2; ++c) list->mBuffers[c] = {1, frames * 4, samples.data() + size_t(c) * frames};
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp time;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    renderBlock()(&flags, &time, frames, 0, list, nullptr);
    return renderedEvents;
}

GainNode::GainNode() : node(std::make_shared<AVAudioUnit>(unit)) {}

ParameterNode::ParameterNode()
    : node(std::make_shared<AVAudioUnit>(std::make_shared<AUAudioUnit>(AudioComponentDescription{}, 1, 1))) {}

size_t logCount(const std::string& text) {
    const auto entries = LogSink::entries();
    return size_t(std::count_if(entries.begin(), entries.end(),
                                [&](const OSLogEntry& e) { return e.message.find(text) != std::string::npos; }));
}

std::vector<std::vector<float>> renderFrames(AVAudioEngine& engine, int64_t frames, AVAudioFrameCount chunk) {
    const auto& format = engine.manualRenderingFormat();
    auto buffer = AVAudioPCMBuffer::make(format, chunk);
    std::vector<std::vector<float>> out(format.channelCount());
    for (int64_t done = 0; done < frames; done += chunk) {
        const auto n = AVAudioFrameCount(std::min<int64_t>(chunk, frames - done));
        engine.renderOffline(n, *buffer);
        for (size_t c = 0; c < out.size(); ++c)
            out[c].insert(out[c].end(), buffer->floatChannelData()[c], buffer->floatChannelData()[c] + n);
    }
    return out;
}

}  // namespace testnodes
