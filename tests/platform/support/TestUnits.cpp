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
    resetHandler = [ramp, this] { *ramp = GainRamp{gain_->value(), gain_->value()}; };
    setInternalRenderBlock([this, ramp](AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timestamp,
                                        AUAudioFrameCount frames, NSInteger, AudioBufferList* output,
                                        const AURenderEvent* events, AURenderPullInputBlock pull) {
        // In place: the input lands in the output, then takes the gain.
        const OSStatus status = pull ? pull(flags, timestamp, frames, 0, output) : kAudioUnitErr_NoConnection;
        if (status != noErr && status != kAudioUnitErr_NoConnection) return status;
        const bool silent = status != noErr;
        const auto first = int64_t(timestamp->mSampleTime);
        // Values set outside a scheduled event (AudioUnitSetParameter) jump.
        if (!events && ramp->remaining == 0 && ramp->target != gain_->value()) ramp->start(gain_->value(), 0);
        for (uint32_t i = 0; i < frames; ++i) {
            for (; events && events->head.eventSampleTime <= first + i; events = events->head.next)
                if (events->head.eventType == AURenderEventType::parameter ||
                    events->head.eventType == AURenderEventType::parameterRamp)
                    ramp->start(events->parameter.value, events->parameter.rampDurationSampleFrames);
            const float g = shouldBypassEffect() ? 1.f : ramp->next();
            for (uint32_t c = 0; c < output->mNumberBuffers; ++c) {
                auto* out = static_cast<float*>(output->mBuffers[c].mData);
                out[i] = silent ? 0.f : out[i] * g;
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
