#include "platform/support/TestUnits.h"

#include <cstring>

using namespace platform;

namespace testunits {

namespace {

// The gain the render thread applies, moving linearly towards a target during a ramp.
struct GainRamp {
    float current = 1;
    float target = 1;
    float step = 0;
    uint32_t remaining = 0;

    void start(float value, uint32_t frames) {
        target = value;
        if (frames == 0) {
            current = value;
            remaining = 0;
        } else {
            remaining = frames;
            step = (value - current) / float(frames);
        }
    }
    float next() {
        const float g = current;
        if (remaining > 0 && --remaining == 0)
            current = target;
        else if (remaining > 0)
            current += step;
        return g;
    }
};

}  // namespace

TestGainUnit::TestGainUnit(AVAudioFormat format)
    : AUAudioUnit({kAudioUnitType_Effect, FourCC("tgan"), FourCC("Tmbr"), 0, 0}, 2, 1, std::move(format)) {
    audioUnitName = "Test Gain";
    gain_ = AUParameterTree::createParameter("gain", "Gain", kGainAddress, 0, 2, kAudioUnitParameterUnit_LinearGain,
                                             std::nullopt,
                                             kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable |
                                                 kAudioUnitParameterFlag_CanRamp);
    gain_->setValue(1);
    setParameterTree(AUParameterTree::createTree({gain_}));

    setScheduleMIDIEventBlock([this](AUEventSampleTime time, uint8_t, int64_t length, const uint8_t* bytes) {
        std::lock_guard lock(midiMutex_);
        midiTimes_.push_back(time);
        if (bytes && length > 0) midiBytes_.insert(midiBytes_.end(), bytes, bytes + length);
    });

    auto ramp = std::make_shared<GainRamp>();
    auto pending = std::make_shared<std::optional<std::pair<double, AURenderEvent>>>();
    resetHandler = [ramp, pending, this] {
        *ramp = GainRamp{gain_->value(), gain_->value()};
        pending->reset();
    };
    setInternalRenderBlock([this, ramp, pending](AUAudioFrameCount frames, const AudioBufferList* input,
                                                 AudioBufferList* output, const AudioTimeStamp& timestamp) {
        const double base = timestamp.mSampleTime;
        AURenderEvent first;
        if (!*pending && popRenderEvent(first)) {
            const double at = first.eventSampleTime < 0 ? base + double(first.eventSampleTime - AUEventSampleTimeImmediate)
                                                        : double(first.eventSampleTime);
            *pending = std::make_pair(at, first);
        }
        // Values set outside a scheduled event (AudioUnitSetParameter) jump.
        if (ramp->remaining == 0 && !*pending && ramp->target != gain_->value()) ramp->start(gain_->value(), 0);
        for (uint32_t i = 0; i < frames; ++i) {
            for (;;) {
                if (!*pending) {
                    AURenderEvent event;
                    if (!popRenderEvent(event)) break;
                    // Immediate times count from this cycle's first frame.
                    const double at = event.eventSampleTime < 0
                                          ? base + double(event.eventSampleTime - AUEventSampleTimeImmediate)
                                          : double(event.eventSampleTime);
                    *pending = std::make_pair(at, event);
                }
                if ((*pending)->first > base + i) break;
                ramp->start((*pending)->second.value, (*pending)->second.rampDurationSampleFrames);
                pending->reset();
            }
            const float g = shouldBypassEffect() ? 1.f : ramp->next();
            for (uint32_t c = 0; c < output->mNumberBuffers; ++c) {
                auto* out = static_cast<float*>(output->mBuffers[c].mData);
                const float* in = input && c < input->mNumberBuffers
                                      ? static_cast<const float*>(input->mBuffers[c].mData)
                                      : nullptr;
                out[i] = in ? in[i] * g : 0.f;
            }
        }
        return OSStatus{0};
    });
}

std::vector<uint8_t> TestGainUnit::receivedMIDIBytes() const {
    std::lock_guard lock(midiMutex_);
    return midiBytes_;
}

std::vector<AUEventSampleTime> TestGainUnit::receivedMIDIEventTimes() const {
    std::lock_guard lock(midiMutex_);
    return midiTimes_;
}

}  // namespace testunits
