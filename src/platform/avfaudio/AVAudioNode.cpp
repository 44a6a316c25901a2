#include "platform/avfaudio/AVAudioNode.h"

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {
AVAudioFormat standardStereo() { return AVAudioFormat::standardFormatWithSampleRate(44100, 2); }
}  // namespace

AVAudioNode::AVAudioNode(AVAudioNodeBus inputs, AVAudioNodeBus outputs, std::shared_ptr<AUAudioUnit> unit)
    : numberOfInputs_(inputs), numberOfOutputs_(outputs), auAudioUnit_(std::move(unit)) {
    if (!auAudioUnit_) auAudioUnit_ = std::make_shared<AUAudioUnit>(AudioComponentDescription{}, inputs, outputs);
}

AVAudioNode::~AVAudioNode() = default;

AVAudioFormat AVAudioNode::defaultOutputFormat(AVAudioNodeBus) const { return standardStereo(); }

AVAudioFormat AVAudioNode::defaultInputFormat(AVAudioNodeBus) const { return standardStereo(); }

AVAudioFormat AVAudioNode::inputFormat(AVAudioNodeBus bus) const {
    if (bus >= numberOfInputs()) return {};
    if (auto engine = engine_.lock())
        if (auto format = engine->connectionFormat(this, true, bus)) return *format;
    return defaultInputFormat(bus);
}

AVAudioFormat AVAudioNode::outputFormat(AVAudioNodeBus bus) const {
    if (bus >= numberOfOutputs()) return {};
    if (auto engine = engine_.lock())
        if (auto format = engine->connectionFormat(this, false, bus)) return *format;
    return defaultOutputFormat(bus);
}

std::optional<AVAudioTime> AVAudioNode::lastRenderTime() const {
    const int flags = lastRenderFlags_.load(std::memory_order_acquire);
    if (!(flags & kAudioTimeStampSampleTimeValid)) return std::nullopt;
    const int64_t sample = lastSampleTime_.load(std::memory_order_relaxed);
    const double rate = lastSampleRate_.load(std::memory_order_relaxed);
    if (flags & kAudioTimeStampHostTimeValid) return AVAudioTime(lastHostTime_.load(std::memory_order_relaxed), sample, rate);
    return AVAudioTime(sample, rate);
}

void AVAudioNode::reset() {
    if (auAudioUnit_) auAudioUnit_->reset();
}

std::string AVAudioNode::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "<" + className() + ": " + address + ">";
}

void AVAudioNode::allocateRenderResources(const detail::RenderConfig& config) {
    // Only units with a render of their own are allocated; mixers, players and I/O render themselves.
    AUAudioUnit* unit = auAudioUnit_.get();
    if (!unit || !unit->internalRenderBlock()) return;
    if (unit->renderResourcesAllocated()) unit->deallocateRenderResources();
    unit->setMaximumFramesToRender(std::max<AUAudioFrameCount>(config.maximumFrames, 1));
    NSError error;
    // The connections' formats become the unit's bus formats.
    for (AVAudioNodeBus b = 0; b < config.inputFormats.size(); ++b) {
        const auto bus = unit->inputBusses()[b];
        if (bus && config.inputFormats[b].isValid() && !bus->setFormat(config.inputFormats[b], &error))
            os_log(OSLog{"platform", "AVAudioNode"}, OSLogType::error, description() + ": " + error.localizedDescription);
    }
    if (const auto bus = unit->outputBusses()[0]; bus && config.outputFormat.isValid() && !bus->setFormat(config.outputFormat, &error))
        os_log(OSLog{"platform", "AVAudioNode"}, OSLogType::error, description() + ": " + error.localizedDescription);
    if (!unit->allocateRenderResources(&error))
        os_log(OSLog{"platform", "AVAudioNode"}, OSLogType::error,
               description() + " cannot allocate its render resources: " + error.localizedDescription);
}

OSStatus AVAudioNode::render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                             AudioBufferList& output, detail::RenderInputs& inputs) {
    const AURenderBlock* block = inputs.unitRenderBlock();
    if (!block || !*block || (auAudioUnit_->shouldBypassEffect() && !auAudioUnit_->rendersBypass())) {
        // Bypassed, or a unit that does not render: the input passes through.
        OSStatus status = noErr;
        const AudioBufferList* input = numberOfInputs() > 0 ? inputs.pull(0, frames, status) : nullptr;
        if (status != noErr) return status;
        detail::copyOrSilence(output, input, frames);
        return noErr;
    }
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp stamp = detail::renderTimeStamp(cycle, sampleTime);
    auto pull = [&inputs](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount count, NSInteger bus,
                          AudioBufferList* list) -> AUAudioUnitStatus {
        return detail::pullInto(inputs, bus, count, list);
    };
    return (*block)(&flags, &stamp, frames, 0, &output, pull);
}

void AVAudioNode::installTapOnBus(AVAudioNodeBus bus, AVAudioFrameCount bufferSize,
                                  const std::optional<AVAudioFormat>& format, AVAudioNodeTapBlock block) {
    const OSLog log{"platform", "AVAudioNode"};
    auto engine = engine_.lock();
    if (!engine) return os_log(log, OSLogType::error, "installTapOnBus: " + description() + " is not attached to an engine");
    // Only output bus 0 is rendered.
    if (bus != 0 || bus >= numberOfOutputs())
        return os_log(log, OSLogType::error, "installTapOnBus: " + description() + " has no tappable bus " + std::to_string(bus));
    if (bufferSize == 0) return os_log(log, OSLogType::error, "installTapOnBus: the buffer size is 0");
    const AVAudioFormat busFormat = outputFormat(bus);
    if (format && (!format->isValid() || format->sampleRate() != busFormat.sampleRate() ||
                   format->channelCount() != busFormat.channelCount()))
        return os_log(log, OSLogType::error, "installTapOnBus: the format " + (format ? format->description() : "") +
                                                 " differs from the bus format " + busFormat.description());
    if (tap_.load(std::memory_order_acquire))
        return os_log(log, OSLogType::error, "installTapOnBus: bus " + std::to_string(bus) + " of " + description() +
                                                 " already has a tap");
    const AVAudioFormat tapFormat = AVAudioFormat::standardFormatWithSampleRate(busFormat.sampleRate(), busFormat.channelCount());
    auto tap = std::make_shared<detail::NodeTap>(bufferSize, tapFormat, std::move(block));
    engine->tapQueue().add(tap);
    tap_.store(tap.get(), std::memory_order_release);
    engine->tapInstalled(*this);
}

void AVAudioNode::removeTapOnBus(AVAudioNodeBus bus) {
    if (bus != 0) return;
    detail::NodeTap* tap = tap_.exchange(nullptr, std::memory_order_acq_rel);
    if (!tap) return;
    if (auto engine = engine_.lock()) engine->tapQueue().retire(tap);
    else tap->markDead();
}

uint64_t AVAudioNode::tapOverflowCount(AVAudioNodeBus bus) const {
    const detail::NodeTap* tap = bus == 0 ? tap_.load(std::memory_order_acquire) : nullptr;
    return tap ? tap->overflows() : 0;
}

void AVAudioNode::didAttach(const std::shared_ptr<AVAudioEngine>&) {}

void AVAudioNode::didDetach() {}


}  // namespace platform
