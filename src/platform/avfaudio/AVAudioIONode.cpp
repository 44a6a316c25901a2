#include "platform/avfaudio/AVAudioIONode.h"

#include "platform/audiotoolbox/AUOutputUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/RenderThreadMark.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/media/PCMConverter.h"

#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/detail/NodeTap.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

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

// Captured frames on their way from the input device's thread to the engine's render thread: a
// single-producer ring per channel; what the render does not take in time is dropped.
struct AVAudioInputNode::Monitor {
    static constexpr size_t kFrames = 16384;  // a power of two
    Monitor(uint32_t channels, size_t scratchFrames)
        : channels(channels), ring(kFrames * channels, 0.0f), scratch(size_t(channels) * scratchFrames, 0.0f),
          listStorage(new unsigned char[AudioBufferListSize(channels)]), scratchFrames(scratchFrames) {
        list = reinterpret_cast<AudioBufferList*>(listStorage.get());
        list->mNumberBuffers = channels;
        for (uint32_t c = 0; c < channels; ++c)
            list->mBuffers[c] = AudioBuffer{1, uint32_t(scratchFrames * sizeof(float)), scratch.data() + c * scratchFrames};
    }
    void push(const AudioBufferList& from, AVAudioFrameCount frames) {
        const uint64_t w = written.load(std::memory_order_relaxed);
        if (w - read.load(std::memory_order_acquire) + frames > kFrames) return;
        for (uint32_t c = 0; c < channels; ++c) {
            const float* data = static_cast<const float*>(from.mBuffers[c].mData);
            for (AVAudioFrameCount i = 0; i < frames; ++i) ring[c * kFrames + ((w + i) & (kFrames - 1))] = data[i];
        }
        written.store(w + frames, std::memory_order_release);
    }
    void pull(AudioBufferList& into, AVAudioFrameCount frames) {
        const uint64_t r = read.load(std::memory_order_relaxed);
        const AVAudioFrameCount have = AVAudioFrameCount(std::min<uint64_t>(frames, written.load(std::memory_order_acquire) - r));
        for (uint32_t c = 0; c < into.mNumberBuffers; ++c) {
            float* out = detail::channel(into, c);
            for (AVAudioFrameCount i = 0; i < frames; ++i)
                out[i] = (c < channels && i < have) ? ring[c * kFrames + ((r + i) & (kFrames - 1))] : 0.0f;
        }
        read.store(r + have, std::memory_order_release);
    }
    const uint32_t channels;
    std::vector<float> ring;
    std::vector<float> scratch;  // the mapped channels of one device cycle
    std::unique_ptr<unsigned char[]> listStorage;
    AudioBufferList* list = nullptr;
    const size_t scratchFrames;
    alignas(64) std::atomic<uint64_t> written{0};
    alignas(64) std::atomic<uint64_t> read{0};
};

AVAudioInputNode::AVAudioInputNode()
    : AVAudioIONode(0, 1, std::make_shared<AudioDeviceStream>(AudioDeviceStream::Direction::input)) {
    auto* unit = static_cast<AUOutputUnit*>(auAudioUnit().get());
    unit->setChannelMapHandlers({[this](const void* data, uint32_t size) { return setChannelMap(data, size); },
                                 [this] { return channelMap(); }});
}

AVAudioInputNode::~AVAudioInputNode() {
    stopCapture();
    static_cast<AUOutputUnit*>(auAudioUnit().get())->setChannelMapHandlers({});
}

bool AVAudioInputNode::setManualRenderingInputPCMFormat(const AVAudioFormat& format, AVAudioIONodeInputBlock block) {
    if (!format.isValid() || !format.isStandard() || format.channelCount() == 0) {
        os_log(OSLog{"platform", "AVAudioInputNode"}, OSLogType::error,
               "setManualRenderingInputPCMFormat: refused the format " + format.description());
        return false;
    }
    manualFormat_ = format;
    manualBlock_ = std::move(block);
    return true;
}

uint32_t AVAudioInputNode::sourceChannels() const {
    if (manualFormat_.isValid()) return manualFormat_.channelCount();
    return hardwareFormat().channelCount();
}

double AVAudioInputNode::sourceRate() const {
    if (manualFormat_.isValid()) return manualFormat_.sampleRate();
    return hardwareFormat().sampleRate();
}

std::vector<int32_t> AVAudioInputNode::channelMap() const {
    std::vector<int32_t> map(mapCount_.load(std::memory_order_acquire));
    for (size_t i = 0; i < map.size(); ++i) map[i] = map_[i].load(std::memory_order_relaxed);
    return map;
}

OSStatus AVAudioInputNode::setChannelMap(const void* data, uint32_t size) {
    if (size % sizeof(int32_t) != 0) return kAudioUnitErr_InvalidPropertyValue;
    const uint32_t count = size / sizeof(int32_t);
    if (count > kMaximumChannels) return kAudioUnitErr_InvalidPropertyValue;
    std::vector<int32_t> map(count);
    if (count) std::memcpy(map.data(), data, size);
    const uint32_t available = sourceChannels();
    for (int32_t c : map)
        if (c < 0 || uint32_t(c) >= available) return kAudioUnitErr_InvalidPropertyValue;
    for (uint32_t i = 0; i < count; ++i) map_[i].store(map[i], std::memory_order_relaxed);
    mapCount_.store(count, std::memory_order_release);
    return noErr;
}

AVAudioFormat AVAudioInputNode::defaultOutputFormat(AVAudioNodeBus) const {
    const uint32_t mapped = mapCount_.load(std::memory_order_acquire);
    return AVAudioFormat::standardFormatWithSampleRate(sourceRate(), mapped ? mapped : sourceChannels());
}

void AVAudioInputNode::mapChannels(const AudioBufferList* source, AudioBufferList& output, AVAudioFrameCount frames) const {
    const uint32_t mapped = mapCount_.load(std::memory_order_acquire);
    for (uint32_t c = 0; c < output.mNumberBuffers; ++c) {
        const uint32_t from = mapped ? (c < mapped ? uint32_t(map_[c].load(std::memory_order_relaxed)) : UINT32_MAX) : c;
        const float* data = (source && from < source->mNumberBuffers)
                                ? static_cast<const float*>(source->mBuffers[from].mData) : nullptr;
        float* out = detail::channel(output, c);
        if (data) std::memcpy(out, data, frames * sizeof(float));
        else std::memset(out, 0, frames * sizeof(float));
    }
}

OSStatus AVAudioInputNode::render(const detail::RenderCycle& cycle, int64_t, AVAudioFrameCount frames, AudioBufferList& output,
                                  detail::RenderInputs&) {
    if (cycle.offline) {
        mapChannels(manualBlock_ ? manualBlock_(frames) : nullptr, output, frames);
        return noErr;
    }
    if (monitor_) monitor_->pull(output, frames);
    else detail::zeroFill(output, 0, frames);
    return noErr;
}

void AVAudioInputNode::startCapture(detail::TapQueue& taps) {
    stopCapture();
    taps_ = &taps;
    const AVAudioFormat format = outputFormat(0);
    monitor_ = std::make_unique<Monitor>(format.channelCount(), 8192);
    captureRate_ = format.sampleRate();
    stream_->start([this](AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime) {
        captureCycle(frames, buffers, hostTime, sampleTime);
    });
}

void AVAudioInputNode::stopCapture() {
    stream_->stop();
    monitor_.reset();
}

void AVAudioInputNode::captureCycle(AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime) {
    // The input device's cycle renders this node for its tap and the engine: a render cycle like
    // the output's, under the same rules and the same mark.
    const RenderThreadScope mark;
    const RenderingNodeScope rendering(this);
    Monitor& monitor = *monitor_;
    taps_->beginRender(1);
    for (AVAudioFrameCount done = 0; done < frames;) {
        const auto n = AVAudioFrameCount(std::min<size_t>(frames - done, monitor.scratchFrames));
        // The device's buffers from `done` on, then its mapped channels.
        unsigned char storage[AudioBufferListSize(kMaximumChannels)];
        auto* shifted = reinterpret_cast<AudioBufferList*>(storage);
        shifted->mNumberBuffers = std::min<uint32_t>(buffers->mNumberBuffers, kMaximumChannels);
        for (uint32_t c = 0; c < shifted->mNumberBuffers; ++c) {
            shifted->mBuffers[c] = buffers->mBuffers[c];
            if (shifted->mBuffers[c].mData) shifted->mBuffers[c].mData = static_cast<float*>(buffers->mBuffers[c].mData) + done;
        }
        mapChannels(shifted, *monitor.list, n);
        if (detail::NodeTap* tap = currentTap()) {
            tap->write(*monitor.list, n, sampleTime + done,
                       hostTime + uint64_t(std::llround(double(done) * 1e9 / captureRate_)), true);
            taps_->notify();
        }
        monitor.push(*monitor.list, n);
        done += n;
    }
    taps_->endRender(1);
}

}  // namespace platform
