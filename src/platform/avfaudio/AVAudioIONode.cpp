#include "platform/avfaudio/AVAudioIONode.h"

#include "platform/audiotoolbox/AUOutputUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/RenderThreadMark.h"
#include "platform/coreaudio/AudioDeviceStream.h"
#include "platform/media/PCMConverter.h"

#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/avfaudio/detail/InputClockBridge.h"
#include "platform/avfaudio/detail/NodeTap.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

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

// Captured frames on their way to the render, and the mapped channels of one device cycle.
struct AVAudioInputNode::Monitor {
    Monitor(uint32_t channels, size_t scratchFrames, uint32_t latency, uint32_t inputCycle, double rate)
        : bridge(channels, latency, inputCycle, rate), scratch(size_t(channels) * scratchFrames, 0.0f),
          listStorage(new unsigned char[AudioBufferListSize(channels)]), scratchFrames(scratchFrames) {
        list = reinterpret_cast<AudioBufferList*>(listStorage.get());
        list->mNumberBuffers = channels;
        for (uint32_t c = 0; c < channels; ++c)
            list->mBuffers[c] = AudioBuffer{1, uint32_t(scratchFrames * sizeof(float)), scratch.data() + c * scratchFrames};
    }
    detail::InputClockBridge bridge;
    std::vector<float> scratch;
    std::unique_ptr<unsigned char[]> listStorage;
    AudioBufferList* list = nullptr;
    const size_t scratchFrames;
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
    // stopCapture() waits while this flag is up before it lets the ring go.
    monitorInUse_.store(true, std::memory_order_seq_cst);
    if (Monitor* monitor = monitor_.load(std::memory_order_seq_cst))
        monitor->bridge.pull(output, frames, cycle.hostTimeValid ? cycle.hostTime : 0, counts_);
    else
        detail::zeroFill(output, 0, frames);
    monitorInUse_.store(false, std::memory_order_seq_cst);
    return noErr;
}

AVAudioFrameCount AVAudioInputNode::monitorLatency(AVAudioFrameCount inputCycle, double inputRate, AVAudioFrameCount outputCycle,
                                                   double outputRate) {
    // Two input cycles and two output pulls: the ring still holds a pull when the input's cycle
    // lands just after the output's, with one input cycle to spare for a late device thread.
    const auto pull = AVAudioFrameCount(std::ceil(double(outputCycle) * inputRate / outputRate));
    return 2 * (inputCycle + pull);
}

AVAudioInputNode::MonitorCounts AVAudioInputNode::monitorCounts() const {
    return {counts_.underruns.load(std::memory_order_relaxed), counts_.overflows.load(std::memory_order_relaxed),
            counts_.dropped.load(std::memory_order_relaxed), counts_.repeated.load(std::memory_order_relaxed)};
}

void AVAudioInputNode::startCapture(detail::TapQueue& taps, AVAudioFrameCount outputCycle, double outputRate) {
    stopCapture();
    taps_ = &taps;
    const AVAudioFormat format = outputFormat(0);
    captureRate_ = format.sampleRate();
    const AVAudioFrameCount inputCycle = stream_->framesPerCycle();
    const AVAudioFrameCount latency =
        monitorLatency(inputCycle, captureRate_, outputCycle, outputRate > 0 ? outputRate : captureRate_);
    latency_.store(latency, std::memory_order_relaxed);
    ownedMonitor_ = std::make_unique<Monitor>(format.channelCount(), 8192, latency, inputCycle, captureRate_);
    monitor_.store(ownedMonitor_.get(), std::memory_order_seq_cst);
    stream_->start([this](AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime) {
        captureCycle(frames, buffers, hostTime, sampleTime);
    });
}

void AVAudioInputNode::stopCapture() {
    stream_->stop();
    monitor_.store(nullptr, std::memory_order_seq_cst);
    while (monitorInUse_.load(std::memory_order_seq_cst)) std::this_thread::sleep_for(std::chrono::microseconds(100));
    ownedMonitor_.reset();
}

void AVAudioInputNode::captureCycle(AVAudioFrameCount frames, AudioBufferList* buffers, uint64_t hostTime, int64_t sampleTime) {
    // The input device's cycle renders this node for its tap and the engine: a render cycle like
    // the output's, under the same rules and the same mark.
    const RenderThreadScope mark;
    const RenderingNodeScope rendering(this);
    Monitor& monitor = *ownedMonitor_;
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
        monitor.bridge.push(*monitor.list, n, hostTime + uint64_t(std::llround(double(done) * 1e9 / captureRate_)));
        done += n;
    }
    taps_->endRender(1);
}

}  // namespace platform
