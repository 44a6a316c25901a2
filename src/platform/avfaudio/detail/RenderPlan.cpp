#include "platform/avfaudio/detail/RenderPlan.h"

#include "platform/avfaudio/detail/NodeTap.h"
#include "platform/avfaudio/RenderThreadMark.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace platform::detail {

namespace {
std::atomic<RenderProbe*> probe{nullptr};
}

void setRenderProbe(RenderProbe* p) { probe.store(p, std::memory_order_release); }

void zeroFill(AudioBufferList& list, AVAudioFrameCount from, AVAudioFrameCount to) {
    if (to <= from) return;
    for (uint32_t c = 0; c < list.mNumberBuffers; ++c) std::fill(channel(list, c) + from, channel(list, c) + to, 0.0f);
}

void copyOrSilence(AudioBufferList& output, const AudioBufferList* input, AVAudioFrameCount frames) {
    const uint32_t copied = input ? std::min(input->mNumberBuffers, output.mNumberBuffers) : 0;
    for (uint32_t c = 0; c < copied; ++c)
        if (channel(output, c) != channel(*input, c))
            std::memcpy(channel(output, c), channel(*input, c), frames * sizeof(float));
    for (uint32_t c = copied; c < output.mNumberBuffers; ++c) std::memset(channel(output, c), 0, frames * sizeof(float));
}

AUAudioUnitStatus pullInto(RenderInputs& inputs, NSInteger bus, AVAudioFrameCount frames, AudioBufferList* list) {
    if (!list) return kAudio_ParamError;
    for (uint32_t c = 0; c < list->mNumberBuffers; ++c)
        if (!list->mBuffers[c].mData) return kAudio_ParamError;
    for (uint32_t c = 0; c < list->mNumberBuffers; ++c) list->mBuffers[c].mDataByteSize = frames * sizeof(float);
    OSStatus status = noErr;
    const AudioBufferList* input = bus >= 0 ? inputs.pull(AVAudioNodeBus(bus), frames, status) : nullptr;
    copyOrSilence(*list, input, frames);
    if (!input && status == noErr) return kAudioUnitErr_NoConnection;
    return status;
}

AudioTimeStamp renderTimeStamp(const RenderCycle& cycle, int64_t sampleTime) {
    AudioTimeStamp stamp;
    stamp.mSampleTime = double(sampleTime);
    stamp.mHostTime = cycle.hostTime;
    stamp.mFlags = kAudioTimeStampSampleTimeValid | (cycle.hostTimeValid ? kAudioTimeStampHostTimeValid : 0);
    return stamp;
}

class SlotInputs final : public RenderInputs {
public:
    SlotInputs(RenderPlan& plan, int slot) : plan_(plan), slot_(slot) {}
    const AudioBufferList* pull(AVAudioNodeBus bus, AVAudioFrameCount frames, OSStatus& status) override {
        auto& inputs = plan_.slots[slot_].inputs;
        status = noErr;
        if (bus >= inputs.size() || inputs[bus].source < 0) return nullptr;
        return plan_.pull(inputs[bus].source, inputs[bus], frames, status);
    }
    const AVAudioMixing* sourceMixing(AVAudioNodeBus bus) const override {
        auto& inputs = plan_.slots[slot_].inputs;
        return bus < inputs.size() ? inputs[bus].mixing : nullptr;
    }
    const AURenderBlock* unitRenderBlock() const override { return &plan_.slots[slot_].renderBlock; }

private:
    RenderPlan& plan_;
    int slot_;
};

void RenderPlan::allocate() {
    for (auto& slot : slots) {
        const uint32_t channels = slot.format.isValid() ? slot.format.channelCount() : 0;
        slot.storage.assign(size_t(channels) * slot.capacity, 0.0f);
        slot.listStorage.reset(new unsigned char[AudioBufferListSize(channels)]);
        slot.list = reinterpret_cast<AudioBufferList*>(slot.listStorage.get());
        slot.list->mNumberBuffers = channels;
        for (uint32_t c = 0; c < channels; ++c) {
            slot.list->mBuffers[c].mNumberChannels = 1;
            slot.list->mBuffers[c].mDataByteSize = slot.capacity * sizeof(float);
            slot.list->mBuffers[c].mData = slot.storage.data() + size_t(c) * slot.capacity;
        }
    }
}

int RenderPlan::slotOf(const AVAudioNode* node) const {
    for (size_t i = 0; i < slots.size(); ++i)
        if (slots[i].node.get() == node) return int(i);
    return -1;
}

OSStatus RenderPlan::render(const RenderCycle& cycle, AudioBufferList& into) {
    cycle_ = &cycle;
    cycleStatus_ = noErr;
    if (output < 0) {
        zeroFill(into, 0, cycle.frames);
        return noErr;
    }
    const OSStatus status = renderSlot(output, cycle.frames, into);
    if (status != noErr && cycleStatus_ == noErr) cycleStatus_ = status;
    for (int root : extraRoots) {
        Slot& slot = slots[root];
        if (slot.cycle == cycle.token) continue;
        // As many frames of the node's own rate as the cycle covers.
        const double rate = slot.format.isValid() ? slot.format.sampleRate() : cycle.sampleRate;
        AVAudioFrameCount frames = cycle.frames;
        if (rate != cycle.sampleRate && cycle.sampleRate > 0) {
            const auto at = [&](int64_t t) { return int64_t(std::floor(double(t) * rate / cycle.sampleRate)); };
            frames = AVAudioFrameCount(at(cycle.sampleTime + cycle.frames) - at(cycle.sampleTime));
        }
        frames = std::min(frames, slot.capacity);
        for (uint32_t c = 0; c < slot.list->mNumberBuffers; ++c) slot.list->mBuffers[c].mDataByteSize = frames * sizeof(float);
        slot.cycle = cycle.token;
        slot.pulls = 0;
        slot.frames = frames;
        slot.status = renderSlot(root, frames, *slot.list);
    }
    cycle_ = nullptr;
    return cycleStatus_;
}

OSStatus RenderPlan::renderSlot(int index, AVAudioFrameCount frames, AudioBufferList& into) {
    Slot& slot = slots[index];
    AVAudioNode& node = *slot.node;
    const RenderCycle& cycle = *cycle_;
    // A node keeps its own sample time; it restarts from the engine's when the node missed cycles,
    // unless a time effect pulls it, which may well skip a cycle.
    const bool missedCycles = node.renderCycleIndex_ + 1 != cycle.token && node.renderCycleIndex_ != cycle.token;
    if (!node.renderSampleTimeValid_ || (missedCycles && !slot.ownClock)) {
        const double rate = slot.format.isValid() ? slot.format.sampleRate() : cycle.sampleRate;
        node.renderSampleTime_ = rate == cycle.sampleRate ? cycle.sampleTime
                                                          : int64_t(double(cycle.sampleTime) * rate / cycle.sampleRate);
        node.renderSampleTimeValid_ = true;
    }
    node.renderCycleIndex_ = cycle.token;
    const int64_t sampleTime = node.renderSampleTime_;
    SlotInputs inputs(*this, index);
    OSStatus status;
    RenderProbe* const watching = probe.load(std::memory_order_acquire);
    if (watching) watching->willRender(node);
    {
        const RenderingNodeScope rendering(&node);
        status = node.render(cycle, sampleTime, frames, into, inputs);
    }
    if (NodeTap* tap = node.currentTap(); tap && !node.feedsTapItself(cycle)) {
        tap->write(into, frames, sampleTime, cycle.hostTime, cycle.hostTimeValid);
        if (!cycle.offline && cycle.taps) cycle.taps->notify();
    }
    if (watching) watching->didRender(node);
    node.renderSampleTime_ += frames;
    node.lastSampleTime_.store(sampleTime, std::memory_order_relaxed);
    node.lastHostTime_.store(cycle.hostTime, std::memory_order_relaxed);
    node.lastSampleRate_.store(slot.format.isValid() ? slot.format.sampleRate() : cycle.sampleRate,
                               std::memory_order_relaxed);
    node.lastRenderFlags_.store(kAudioTimeStampSampleTimeValid | (cycle.hostTimeValid ? kAudioTimeStampHostTimeValid : 0),
                                std::memory_order_release);
    if (status != noErr && cycleStatus_ == noErr) cycleStatus_ = status;
    return status;
}

const AudioBufferList* RenderPlan::pull(int index, Edge& edge, AVAudioFrameCount frames, OSStatus& status) {
    Slot& slot = slots[index];
    const uint64_t token = cycle_->token;
    if (slot.cycle != token) {
        slot.cycle = token;
        slot.pulls = 0;
    }
    if (edge.cycle != token) {
        edge.cycle = token;
        edge.pulls = 0;
    }
    // A second destination asking for the frames just rendered gets them from the cache (fan-out).
    if (edge.pulls < slot.pulls && slot.frames == frames) {
        edge.pulls = slot.pulls;
        status = slot.status;
        return status == noErr ? slot.list : nullptr;
    }
    frames = std::min(frames, slot.capacity);
    for (uint32_t c = 0; c < slot.list->mNumberBuffers; ++c) slot.list->mBuffers[c].mDataByteSize = frames * sizeof(float);
    slot.status = renderSlot(index, frames, *slot.list);
    slot.frames = frames;
    edge.pulls = ++slot.pulls;
    status = slot.status;
    return status == noErr ? slot.list : nullptr;
}

}  // namespace platform::detail
