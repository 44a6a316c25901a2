#include "platform/audiotoolbox/AVAudioUnitDelay.h"

#include "platform/audiotoolbox/EffectAudioUnit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platform {

namespace {

// wet = the line read D = time·sr frames back (interpolated; at least one frame while there is
// feedback); the line takes x + feedback·lp(wet), lp a one-pole low-pass with unity gain at DC;
// out = (1 − m)·x + m·wet.
class DelayUnit final : public EffectAudioUnit {
public:
    DelayUnit()
        : EffectAudioUnit(kAudioUnitSubType_Delay,
                          {{"wetDryMix", "Dry Wet Mix", AVAudioUnitDelay::kWetDryMix, 0, 100, 50,
                            kAudioUnitParameterUnit_Percent},
                           {"delayTime", "Delay Time", AVAudioUnitDelay::kDelayTime, 0, 2, 1,
                            kAudioUnitParameterUnit_Seconds},
                           {"feedback", "Feedback", AVAudioUnitDelay::kFeedback, -100, 100, 50,
                            kAudioUnitParameterUnit_Percent},
                           {"lowPassCutoff", "Low Pass Cutoff", AVAudioUnitDelay::kLowPassCutoff, 10, 22050, 15000,
                            kAudioUnitParameterUnit_Hertz}}) {}

private:
    void prepare(uint32_t channelCount, double sampleRate) override {
        length_ = uint32_t(std::ceil(2 * sampleRate)) + 4;
        lines_.assign(channelCount, std::vector<float>(length_, 0.0f));
        lowPassed_.assign(channelCount, 0.0);
    }

    void clearState() override {
        for (auto& line : lines_) std::fill(line.begin(), line.end(), 0.0f);
        std::fill(lowPassed_.begin(), lowPassed_.end(), 0.0);
        position_ = 0;
    }

    void process(float* const* channels, uint32_t channelCount, uint32_t start, uint32_t count) override {
        const double rate = sampleRate();
        const uint32_t end = start + count;
        for (uint32_t n = start; n < end; ++n) {
            const double mix = slot(AVAudioUnitDelay::kWetDryMix).value() / 100.0;
            const double feedback = slot(AVAudioUnitDelay::kFeedback).value() / 100.0;
            double frames = std::min(double(slot(AVAudioUnitDelay::kDelayTime).value()) * rate, double(length_ - 3));
            if (feedback != 0) frames = std::max(frames, 1.0);
            const float cutoff = slot(AVAudioUnitDelay::kLowPassCutoff).value();
            if (cutoff != cutoff_) {
                cutoff_ = cutoff;
                pole_ = std::exp(-2 * std::numbers::pi * std::min(double(cutoff), 0.49 * rate) / rate);
            }
            stepRamps();

            const auto whole = uint32_t(frames);
            const double fraction = frames - whole;
            const uint32_t newer = (position_ + length_ - whole) % length_;
            const uint32_t older = (newer + length_ - 1) % length_;
            for (uint32_t c = 0; c < channelCount; ++c) {
                std::vector<float>& line = lines_[c];
                const double x = channels[c][n];
                // Less than a frame back reaches into the current sample.
                const double near = whole == 0 ? x : double(line[newer]);
                const double wet = near + fraction * (double(line[older]) - near);
                double& lp = lowPassed_[c];
                lp = (1 - pole_) * wet + pole_ * lp;
                double written = x + feedback * lp;
                if (!std::isfinite(written) || !std::isfinite(lp)) {
                    // What cannot be played back is not kept.
                    written = 0;
                    lp = 0;
                }
                line[position_] = float(written);
                channels[c][n] = float((1 - mix) * x + mix * wet);
            }
            position_ = (position_ + 1) % length_;
        }
    }

    uint32_t length_ = 4;
    std::vector<std::vector<float>> lines_;
    std::vector<double> lowPassed_;
    uint32_t position_ = 0;
    float cutoff_ = -1;
    double pole_ = 0;
};

}  // namespace

namespace detail {

void registerDelayUnit() {
    registerEffectUnit<DelayUnit>(kAudioUnitSubType_Delay, "Delay");
}

}  // namespace detail

AVAudioUnitDelay::AVAudioUnitDelay()
    : AVAudioUnitEffect(makeEffectUnit({kAudioUnitType_Effect, kAudioUnitSubType_Delay, kAudioUnitManufacturer_Apple, 0, 0})) {}

AUValue AVAudioUnitDelay::get(AUParameterAddress address) const {
    const auto parameter = auAudioUnit()->parameterTree()->parameter(address);
    return parameter ? parameter->value() : 0.0f;
}

void AVAudioUnitDelay::set(AUParameterAddress address, AUValue value) {
    if (const auto parameter = auAudioUnit()->parameterTree()->parameter(address))
        parameter->setValue(std::clamp(value, parameter->minValue(), parameter->maxValue()));
}

}  // namespace platform
