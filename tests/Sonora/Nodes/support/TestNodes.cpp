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
    setInternalRenderBlock([parameter](AUAudioFrameCount frames, const AudioBufferList* input, AudioBufferList* output,
                                       const AudioTimeStamp&) {
        const float g = parameter->value();
        for (uint32_t c = 0; c < output->mNumberBuffers; ++c) {
            auto* out = static_cast<float*>(output->mBuffers[c].mData);
            const auto* in = input && c < input->mNumberBuffers ? static_cast<const float*>(input->mBuffers[c].mData)
                                                                : nullptr;
            for (AUAudioFrameCount i = 0; i < frames; ++i) out[i] = in ? in[i] * g : 0.0f;
        }
        return noErr;
    });
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
