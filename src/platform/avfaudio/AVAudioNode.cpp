#include "platform/avfaudio/AVAudioNode.h"

#include "platform/audiotoolbox/AUAudioUnit.h"
#include "platform/avfaudio/AVAudioEngine.h"

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
    if (!auAudioUnit_) return;
    auAudioUnit_->maximumFramesToRender = std::max<AUAudioFrameCount>(auAudioUnit_->maximumFramesToRender, config.maximumFrames);
}

OSStatus AVAudioNode::render(const detail::RenderCycle& cycle, int64_t sampleTime, AVAudioFrameCount frames,
                             AudioBufferList& output, detail::RenderInputs& inputs) {
    OSStatus status = noErr;
    const AudioBufferList* input = numberOfInputs() > 0 ? inputs.pull(0, frames, status) : nullptr;
    if (status != noErr) return status;
    if (auAudioUnit_ && auAudioUnit_->internalRenderBlock() && !auAudioUnit_->shouldBypassEffect()) {
        return auAudioUnit_->internalRenderBlock()(frames, input, &output, detail::renderTimeStamp(cycle, sampleTime));
    }
    // Bypassed, or a unit that does not render: the input passes through.
    detail::copyOrSilence(output, input, frames);
    return noErr;
}

void AVAudioNode::didAttach(const std::shared_ptr<AVAudioEngine>&) {}

void AVAudioNode::didDetach() {}


}  // namespace platform
